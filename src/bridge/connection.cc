#include "bridge/connection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>
#include <climits>

#include "common/failure_note.h"
#include "common/limits.h"

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

bool set_blocking(int fd) {
    int non_blocking = 0;
    return ::ioctl(fd, FIONBIO, &non_blocking) == 0;
}

// The error a pending connect ended with, 0 for none; -1 if it cannot be
// asked for.
int pending_error(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
    return error;
}

bool connect_failed(int error) {
    note_failure(error == ECONNREFUSED ? FailureReason::ConnectRefused
                                       : FailureReason::ConnectFailed);
    return false;
}

// The wait that fits in what is left of the connect time limit: rounded up to
// whole milliseconds, never less than one.
int wait_milliseconds(Clock::duration left) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (ms < 1) return 1;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Waits for a connect in progress to complete before `deadline`. A wait cut
// short by a signal resumes with the time that remains.
bool await_connect(int fd, Clock::time_point deadline) {
    for (;;) {
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            note_failure(FailureReason::ConnectTimedOut);
            return false;
        }
        pollfd watched{fd, POLLOUT, 0};
        const int ready = ::poll(&watched, 1, wait_milliseconds(left));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return connect_failed(errno);
        }
        if (ready == 0) continue;
        if ((watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return connect_failed(pending_error(fd));
        }
        if ((watched.revents & POLLOUT) != 0) {
            const int error = pending_error(fd);
            return error == 0 || connect_failed(error);
        }
    }
}

// Connects the non-blocking socket `fd` and leaves it blocking. An
// interrupted connect call goes on in the background, like one in progress.
bool connect_within_limit(int fd, const sockaddr_in& address) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    const int connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int connect_errno = errno;
    if (!set_blocking(fd)) return connect_failed(errno);
    if (connected == 0) return true;
    if (connect_errno != EINPROGRESS && connect_errno != EINTR)
        return connect_failed(connect_errno);
    return await_connect(fd, deadline);
}

bool set_time_limit(int fd, int option, int milliseconds) {
    const timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) == 0;
}

}  // namespace

std::optional<UniqueFd> connect_to_bridge(const Endpoint& endpoint) {
    const std::optional<sockaddr_in> address = numeric_address(endpoint);
    UniqueFd socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    const bool ready = address && socket.valid() && connect_within_limit(socket.get(), *address) &&
                       set_time_limit(socket.get(), SO_RCVTIMEO, kReceiveTimeoutMs) &&
                       set_time_limit(socket.get(), SO_SNDTIMEO, kSendTimeoutMs);
    if (ready) return socket;
    // Refusals and time-outs are noted where they are found; this covers the
    // rest.
    (void)connect_failed(errno);
    return std::nullopt;
}

}  // namespace velmot
