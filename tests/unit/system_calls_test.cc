// The system-call layer's own rules: what it promises beyond the plain call.
// Signals are sent with a handler installed without SA_RESTART, so every
// interruption reaches the layer as EINTR.

#include "common/system_calls.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/unique_fd.h"

namespace velmot {
namespace {

void ignore_signal(int) {}

// Interrupts `thread` with SIGUSR1 over and over until `done` is set.
void interrupt_until(std::thread& thread, const std::atomic<bool>& done) {
    struct sigaction interrupt {};
    struct sigaction previous {};
    interrupt.sa_handler = ignore_signal;
    ::sigaction(SIGUSR1, &interrupt, &previous);
    while (!done) {
        ::pthread_kill(thread.native_handle(), SIGUSR1);
        std::this_thread::yield();
    }
    thread.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(SystemCallsTest, InterruptedWaitsKeepTheirTimeLimitAndReadsTheirBytes) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd read_end(fds[0]), write_end(fds[1]);
    constexpr int kLimitMs = 150;
    std::atomic<bool> done{false};
    int ready = -2;
    std::chrono::steady_clock::duration waited{};
    std::thread poller([&] {
        pollfd watched{read_end.get(), POLLIN, 0};
        const auto start = std::chrono::steady_clock::now();
        ready = sys::poll(&watched, 1, kLimitMs);
        waited = std::chrono::steady_clock::now() - start;
        done = true;
    });
    interrupt_until(poller, done);
    EXPECT_EQ(ready, 0);
    EXPECT_GE(waited, std::chrono::milliseconds(kLimitMs));

    done = false;
    ssize_t got = -2;
    char byte = 0;
    std::thread reader([&] {
        got = sys::read(read_end.get(), &byte, 1);
        done = true;
    });
    std::thread writer([&] { (void)sys::write(write_end.get(), "x", 1); });
    interrupt_until(reader, done);
    writer.join();
    EXPECT_EQ(got, 1);
    EXPECT_EQ(byte, 'x');
}

TEST(SystemCallsTest, StreamSocketIsCloseOnExecAndBlockingAsAsked) {
    for (const bool non_blocking : {false, true}) {
        UniqueFd socket{sys::stream_socket(non_blocking)};
        ASSERT_TRUE(socket.valid());
        EXPECT_NE(::fcntl(socket.get(), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_EQ((::fcntl(socket.get(), F_GETFL) & O_NONBLOCK) != 0, non_blocking);
    }
}

// SIGPIPE keeps its default action here, which would end the test process.
TEST(SystemCallsTest, SendingToAPeerThatHasGoneIsAnErrorNotASignal) {
    UniqueFd listener{sys::stream_socket(false)};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    ASSERT_EQ(::bind(listener.get(), generic, size), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    ASSERT_EQ(::getsockname(listener.get(), generic, &size), 0);
    UniqueFd client{sys::stream_socket(false)};
    ASSERT_EQ(sys::connect(client.get(), generic, size), 0);
    UniqueFd(::accept(listener.get(), nullptr, nullptr)).reset();

    const iovec piece{const_cast<char*>("bytes"), 5};
    ssize_t sent = 0;
    while (sent >= 0)
        sent = sys::send_gathered(client.get(), &piece, 1);
    EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
}

}  // namespace
}  // namespace velmot
