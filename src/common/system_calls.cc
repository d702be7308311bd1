#include "common/system_calls.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <climits>

namespace velmot::sys {
namespace {

// Where sends cannot be told not to raise SIGPIPE, the socket itself is told
// so when it is made (`stream_socket`).
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Repeats `call` while a signal interrupts it.
template <typename Call>
auto repeat_interrupted(Call call) noexcept {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

// After a first call of `call` failed: repeats it while a signal interrupted
// the last try.
template <typename Call>
ssize_t again_while_interrupted(Call call) noexcept {
    while (errno == EINTR) {
        const ssize_t done = call();
        if (done != -1) return done;
    }
    return -1;
}

#if !(defined(SOCK_CLOEXEC) && defined(SOCK_NONBLOCK))
// Gives a plain socket what the socket flags give where they exist: close on
// exec, non-blocking when asked, and no SIGPIPE from a send to a peer that
// has gone.
bool prepare_plain_socket(int fd, bool non_blocking) noexcept {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
    if (non_blocking && !set_blocking(fd, false)) return false;
#ifdef SO_NOSIGPIPE
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) return false;
#endif
    return true;
}
#endif

}  // namespace

namespace detail {

ssize_t read_again(int fd, void* buffer, std::size_t size) noexcept {
    return again_while_interrupted([&] { return ::read(fd, buffer, size); });
}

ssize_t write_again(int fd, const void* bytes, std::size_t size) noexcept {
    return again_while_interrupted([&] { return ::write(fd, bytes, size); });
}

ssize_t writev_again(int fd, const struct iovec* pieces, int count) noexcept {
    return again_while_interrupted([&] { return ::writev(fd, pieces, count); });
}

ssize_t recv_again(int fd, void* buffer, std::size_t size, int flags) noexcept {
    return again_while_interrupted([&] { return ::recv(fd, buffer, size, flags); });
}

}  // namespace detail

ssize_t send(int fd, const void* bytes, std::size_t size) noexcept {
    return repeat_interrupted([&] { return ::send(fd, bytes, size, kSendFlags); });
}

ssize_t send_gathered(int fd, const struct iovec* pieces, int count) noexcept {
    msghdr message{};
    message.msg_iov = const_cast<struct iovec*>(pieces);
    message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
    return repeat_interrupted([&] { return ::sendmsg(fd, &message, kSendFlags); });
}

int poll_until(struct pollfd* fds, nfds_t count,
               std::chrono::steady_clock::time_point deadline) noexcept {
    for (;;) {
        // What is left, rounded up to whole milliseconds so that the wait
        // never ends before the deadline, and never less than one.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return 0;
        const int ready = ::poll(fds, count, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        // A wait that ended without an event a moment early is resumed.
        if (ready > 0 || (ready == -1 && errno != EINTR)) return ready;
    }
}

int poll(struct pollfd* fds, nfds_t count, int timeout_ms) noexcept {
    if (timeout_ms <= 0) return repeat_interrupted([&] { return ::poll(fds, count, timeout_ms); });
    return poll_until(fds, count,
                      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms));
}

int stream_socket(bool non_blocking) noexcept {
#if defined(SOCK_CLOEXEC) && defined(SOCK_NONBLOCK)
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (non_blocking ? SOCK_NONBLOCK : 0), 0);
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || prepare_plain_socket(fd, non_blocking)) return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
#endif
}

int connect(int fd, const struct sockaddr* address, socklen_t size) noexcept {
    const int connected = ::connect(fd, address, size);
    if (connected == -1 && errno == EINTR) errno = EINPROGRESS;
    return connected;
}

int pending_socket_error(int fd) noexcept {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
    return error;
}

bool set_time_limit(int fd, int option, int milliseconds) noexcept {
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) == 0;
}

bool set_blocking(int fd, bool blocking) noexcept {
    int non_blocking = blocking ? 0 : 1;
    return ::ioctl(fd, FIONBIO, &non_blocking) == 0;
}

int close(int fd) noexcept {
    return ::close(fd);
}

bool is_open(int fd) noexcept {
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

int open(const char* path, int flags) noexcept {
    return repeat_interrupted([&] { return ::open(path, flags); });
}

int stat(const char* path, struct stat* facts) noexcept {
    return repeat_interrupted([&] { return ::stat(path, facts); });
}

int lstat(const char* path, struct stat* facts) noexcept {
    return repeat_interrupted([&] { return ::lstat(path, facts); });
}

ssize_t readlink(const char* path, char* buffer, std::size_t size) noexcept {
    return repeat_interrupted([&] { return ::readlink(path, buffer, size); });
}

int dup(int fd) noexcept {
    return ::dup(fd);
}

pid_t waitpid(pid_t pid, int* status, int options) noexcept {
    return repeat_interrupted([&] { return ::waitpid(pid, status, options); });
}

int waitid(idtype_t type, id_t id, siginfo_t* info, int options) noexcept {
    return repeat_interrupted([&] { return ::waitid(type, id, info, options); });
}

int sigwaitinfo(const sigset_t* signals, siginfo_t* info) noexcept {
#ifdef __APPLE__
    // There is no sigwaitinfo here: the signal comes without its details.
    int signal = 0;
    if (const int error = ::sigwait(signals, &signal); error != 0) {
        errno = error;
        return -1;
    }
    if (info != nullptr) {
        *info = siginfo_t{};
        info->si_signo = signal;
    }
    return signal;
#else
    return repeat_interrupted([&] { return ::sigwaitinfo(signals, info); });
#endif
}

bool random_bytes(void* bytes, std::size_t size) noexcept {
    // The source hands out at most 256 bytes a call.
    constexpr std::size_t kMostPerCall = 256;
    auto* out = static_cast<unsigned char*>(bytes);
    for (std::size_t done = 0; done < size; done += kMostPerCall) {
        const std::size_t part = size - done < kMostPerCall ? size - done : kMostPerCall;
        if (::getentropy(out + done, part) != 0) return false;
    }
    return true;
}

bool ignore_sigpipe() noexcept {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    return ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

}  // namespace velmot::sys
