#include "devbridge/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <limits>

namespace velmot::devbridge {

namespace {

// Connections the kernel completes and keeps until the bridge accepts them:
// as many as the system allows (the kernel cuts a larger value down to its
// own maximum), so that a burst of connections is not met with dropped
// handshakes, which a client would only retry after a second or more.
constexpr int kListenBacklog = std::numeric_limits<int>::max();

}  // namespace

std::optional<Listener> listen_on_loopback() {
    Listener listener;
    listener.socket.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.socket.valid()) return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (::bind(listener.socket.get(), generic, length) != 0 ||
        ::listen(listener.socket.get(), kListenBacklog) != 0 ||
        ::getsockname(listener.socket.get(), generic, &length) != 0) {
        return std::nullopt;
    }
    listener.port = ntohs(address.sin_port);
    return listener;
}

}  // namespace velmot::devbridge
