#include "bridge/connection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>

#include <chrono>

#include "common/failure_note.h"
#include "common/limits.h"
#include "common/system_calls.h"

namespace velmot {
namespace {

using Clock = std::chrono::steady_clock;

// The host is always the numeric loopback address, so it is parsed directly
// into the one socket address there is; nothing is resolved.
std::optional<sockaddr_in> numeric_address(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    if (::inet_pton(AF_INET, endpoint.host.c_str(), &address.sin_addr) != 1) return std::nullopt;
    return address;
}

bool connect_failed(int error) {
    note_failure(error == ECONNREFUSED ? FailureReason::ConnectRefused
                                       : FailureReason::ConnectFailed);
    return false;
}

// Waits for a connect in progress to complete before `deadline`.
bool await_connect(int fd, Clock::time_point deadline) {
    pollfd watched{fd, POLLOUT, 0};
    const int ready = sys::poll_until(&watched, 1, deadline);
    if (ready < 0) return connect_failed(errno);
    if (ready == 0) {
        note_failure(FailureReason::ConnectTimedOut);
        return false;
    }
    const int error = sys::pending_socket_error(fd);
    if ((watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return connect_failed(error);
    return error == 0 || connect_failed(error);
}

// Connects the non-blocking socket `fd` and leaves it blocking.
bool connect_within_limit(int fd, const sockaddr_in& address) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    const int connected =
        sys::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int connect_errno = errno;
    if (!sys::set_blocking(fd, true)) return connect_failed(errno);
    if (connected == 0) return true;
    if (connect_errno != EINPROGRESS) return connect_failed(connect_errno);
    return await_connect(fd, deadline);
}

}  // namespace

std::optional<UniqueFd> connect_to_bridge(const Endpoint& endpoint) {
    const std::optional<sockaddr_in> address = numeric_address(endpoint);
    UniqueFd socket{sys::stream_socket(true)};
    const bool ready = address && socket.valid() && connect_within_limit(socket.get(), *address) &&
                       sys::set_time_limit(socket.get(), SO_RCVTIMEO, kReceiveTimeoutMs) &&
                       sys::set_time_limit(socket.get(), SO_SNDTIMEO, kSendTimeoutMs);
    if (ready) return socket;
    // Refusals and time-outs are noted where they are found; this covers the
    // rest.
    (void)connect_failed(errno);
    return std::nullopt;
}

}  // namespace velmot
