// The one layer between the runtime and the operating system. Every system
// call the launcher, the companion and the development bridge make on their
// run path goes through here, so two things hold in one place:
//
// - A call interrupted by a signal is repeated here and nowhere else; a wait
//   that is repeated keeps its original time limit.
// - Platform differences stay here: where the socket flags for close-on-exec
//   and non-blocking, or the per-call flag against SIGPIPE, do not exist,
//   the same effect comes from fcntl and a socket option.
//
// Each function returns what its system call returns, -1 with errno set on
// failure, unless it says otherwise.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>

namespace velmot::sys {

namespace detail {
// After a first call returned -1: repeats it while errno says a signal
// interrupted it, and returns what the last call returned.
ssize_t read_again(int fd, void* buffer, std::size_t size) noexcept;
ssize_t write_again(int fd, const void* bytes, std::size_t size) noexcept;
ssize_t writev_again(int fd, const struct iovec* pieces, int count) noexcept;
ssize_t recv_again(int fd, void* buffer, std::size_t size, int flags) noexcept;
}  // namespace detail

// The calls made once per chunk of output or input. Their first try is made
// here and the repetition out of line, so that a call that succeeds costs no
// more than the system call itself.
[[nodiscard]] inline ssize_t read(int fd, void* buffer, std::size_t size) noexcept {
    const ssize_t done = ::read(fd, buffer, size);
    return done != -1 ? done : detail::read_again(fd, buffer, size);
}

[[nodiscard]] inline ssize_t write(int fd, const void* bytes, std::size_t size) noexcept {
    const ssize_t done = ::write(fd, bytes, size);
    return done != -1 ? done : detail::write_again(fd, bytes, size);
}

[[nodiscard]] inline ssize_t writev(int fd, const struct iovec* pieces, int count) noexcept {
    const ssize_t done = ::writev(fd, pieces, count);
    return done != -1 ? done : detail::writev_again(fd, pieces, count);
}

[[nodiscard]] inline ssize_t recv(int fd, void* buffer, std::size_t size, int flags) noexcept {
    const ssize_t done = ::recv(fd, buffer, size, flags);
    return done != -1 ? done : detail::recv_again(fd, buffer, size, flags);
}

// Sends on a connected socket. A peer that has gone is an EPIPE error, never
// a SIGPIPE.
[[nodiscard]] ssize_t send(int fd, const void* bytes, std::size_t size) noexcept;

// Sends the pieces as one gathered call on a connected socket. A peer that
// has gone is an EPIPE error, never a SIGPIPE.
[[nodiscard]] ssize_t send_gathered(int fd, const struct iovec* pieces, int count) noexcept;

// Waits until an event or `deadline`, however often a signal interrupts the
// wait. Returns 0 once the deadline has passed, never before.
[[nodiscard]] int poll_until(struct pollfd* fds, nfds_t count,
                             std::chrono::steady_clock::time_point deadline) noexcept;

// Waits at most `timeout_ms` milliseconds in all (negative: without limit),
// however often a signal interrupts the wait. Returns 0 when the time ran out.
[[nodiscard]] int poll(struct pollfd* fds, nfds_t count, int timeout_ms) noexcept;

// A close-on-exec IPv4 stream socket on which writing to a peer that has gone
// is an ordinary error; non-blocking when asked.
[[nodiscard]] int stream_socket(bool non_blocking) noexcept;

// Starts a connect. An interrupted connect goes on in the background, so it
// is reported as EINPROGRESS, like one that has not finished yet.
[[nodiscard]] int connect(int fd, const struct sockaddr* address, socklen_t size) noexcept;

// The error a pending connect ended with, 0 for none; -1 if it cannot be
// asked for.
[[nodiscard]] int pending_socket_error(int fd) noexcept;

// Sets a socket's receive (SO_RCVTIMEO) or send (SO_SNDTIMEO) time limit.
[[nodiscard]] bool set_time_limit(int fd, int option, int milliseconds) noexcept;

// Makes a descriptor blocking or non-blocking.
[[nodiscard]] bool set_blocking(int fd, bool blocking) noexcept;

// Closes a descriptor once: after an interruption the descriptor is gone all
// the same, and closing it again could close another one's number.
int close(int fd) noexcept;

// Whether `fd` is an open descriptor.
[[nodiscard]] bool is_open(int fd) noexcept;

[[nodiscard]] int open(const char* path, int flags) noexcept;

// What is at `path`, links followed (`stat`) or not (`lstat`), and the
// target written in the link at `path` (not terminated; -1 when it is no
// link).
[[nodiscard]] int stat(const char* path, struct stat* facts) noexcept;
[[nodiscard]] int lstat(const char* path, struct stat* facts) noexcept;
[[nodiscard]] ssize_t readlink(const char* path, char* buffer, std::size_t size) noexcept;
[[nodiscard]] int dup(int fd) noexcept;

// Waiting for child processes and for signals that are blocked and awaited.
[[nodiscard]] pid_t waitpid(pid_t pid, int* status, int options) noexcept;
[[nodiscard]] int waitid(idtype_t type, id_t id, siginfo_t* info, int options) noexcept;
[[nodiscard]] int sigwaitinfo(const sigset_t* signals, siginfo_t* info) noexcept;

// Fills `size` bytes with random bytes from the system's source; false when
// it cannot.
[[nodiscard]] bool random_bytes(void* bytes, std::size_t size) noexcept;

// Makes writing into a pipe or socket whose reader has gone an ordinary
// error for the whole process.
[[nodiscard]] bool ignore_sigpipe() noexcept;

}  // namespace velmot::sys
