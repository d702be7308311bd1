// The standard-output line buffer and the write-all rules beneath it, driven
// on pipes: what has reached the read end after each write shows exactly what
// was written out and what is still held.

#include "common/line_buffer.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/descriptor_io.h"
#include "common/unique_fd.h"

namespace velmot {
namespace {

struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

// The read end is non-blocking, so that reading shows what is there now.
Pipe make_pipe() {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::string drain(int fd) {
    std::string bytes;
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n > 0) {
            bytes.append(block, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return bytes;
        }
    }
}

int unused_descriptor() {
    int fd = 900;
    while (::fcntl(fd, F_GETFD) != -1)
        ++fd;
    return fd;
}

class IgnoreSigpipe {
  public:
    IgnoreSigpipe() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~IgnoreSigpipe() { ::sigaction(SIGPIPE, &previous_, nullptr); }

  private:
    struct sigaction previous_ {};
};

std::string repeat(char c, std::size_t n) {
    return std::string(n, c);
}

struct Step {
    std::string chunk;
    std::string written;  // what reaches the pipe during this write
};

struct Scenario {
    const char* rule;
    std::vector<Step> steps;
    std::size_t held_at_end;
};

TEST(LineBufferTest, WritesThroughTheLastLineFeedAndHoldsTheRest) {
    const std::string a1000 = repeat('a', 1000);
    const Scenario scenarios[] = {
        {"partial line held until a line feed", {{"abc", ""}, {"de\nfg", "abcde\n"}}, 2},
        {"several lines go out in one write", {{"a\nb\nc", "a\nb\n"}}, 1},
        {"a lone line feed releases the held line", {{"ab", ""}, {"\n", "ab\n"}}, 0},
        {"remainder of 1023 bytes is held", {{repeat('r', 1023), ""}}, 1023},
        {"remainder of 1024 bytes goes out at once", {{repeat('r', 1024), repeat('r', 1024)}}, 0},
        {"long remainder follows held bytes",
         {{"xy", ""}, {repeat('r', 2000), "xy" + repeat('r', 2000)}},
         0},
        {"long remainder after a line",
         {{"l\n" + repeat('r', 1024), "l\n" + repeat('r', 1024)}},
         0},
        {"remainder that does not fit pushes held bytes out",
         {{a1000, ""}, {repeat('b', 100), a1000}},
         100},
        {"remainder that exactly fits is held", {{a1000, ""}, {repeat('b', 24), ""}}, 1024},
        {"full buffer goes out before the next byte",
         {{a1000, ""}, {repeat('b', 24), ""}, {"c", a1000 + repeat('b', 24)}},
         1},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.rule);
        Pipe pipe = make_pipe();
        LineBuffer buffer(pipe.write_end.get());
        for (const Step& step : s.steps) {
            ASSERT_TRUE(buffer.write(step.chunk));
            EXPECT_EQ(drain(pipe.read_end.get()), step.written);
        }
        ASSERT_TRUE(buffer.flush());
        EXPECT_EQ(drain(pipe.read_end.get()).size(), s.held_at_end);
    }
}

TEST(LineBufferTest, FlushWritesHeldBytesOnce) {
    Pipe pipe = make_pipe();
    LineBuffer buffer(pipe.write_end.get());
    ASSERT_TRUE(buffer.flush());
    EXPECT_EQ(drain(pipe.read_end.get()), "");
    ASSERT_TRUE(buffer.write("tail"));
    ASSERT_TRUE(buffer.flush());
    EXPECT_EQ(drain(pipe.read_end.get()), "tail");
    ASSERT_TRUE(buffer.flush());
    EXPECT_EQ(drain(pipe.read_end.get()), "");
}

TEST(LineBufferTest, DescriptorThatIsNotOpenSwallowsEverything) {
    LineBuffer buffer(unused_descriptor());
    EXPECT_TRUE(buffer.write("line\n"));
    EXPECT_TRUE(buffer.write(repeat('r', 3000)));
    EXPECT_TRUE(buffer.write("held"));
    EXPECT_TRUE(buffer.flush());
}

TEST(LineBufferTest, BrokenPipeFailsOnlyWhenBytesAreActuallyWritten) {
    IgnoreSigpipe ignore;
    Pipe pipe = make_pipe();
    pipe.read_end.reset();
    LineBuffer buffer(pipe.write_end.get());
    EXPECT_TRUE(buffer.write("held only"));
    errno = 0;
    EXPECT_FALSE(buffer.write("\n"));
    EXPECT_EQ(errno, EPIPE);
    EXPECT_TRUE(buffer.write("again"));
    EXPECT_FALSE(buffer.flush());
    EXPECT_TRUE(buffer.flush());  // the failed flush forgot what was held
}

TEST(DescriptorIoTest, GatheredWriteKeepsOrderAcrossMoreThanIovMaxPieces) {
    Pipe pipe = make_pipe();
    std::string source;
    for (int i = 0; i < 3000; ++i)
        source += static_cast<char>('a' + i % 26);
    std::vector<iovec> pieces;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (i % 7 == 0) pieces.push_back({nullptr, 0});
        pieces.push_back({&source[i], 1});
    }
    pieces.push_back({nullptr, 0});
    ASSERT_TRUE(write_all_gathered(pipe.write_end.get(), pieces.data(), pieces.size()));
    EXPECT_EQ(drain(pipe.read_end.get()), source);
}

TEST(DescriptorIoTest, WriteToDescriptorThatIsNotOpenCountsAsDone) {
    EXPECT_TRUE(write_all(unused_descriptor(), "discarded"));
}

TEST(DescriptorIoTest, WriteToPipeWithoutReaderFailsWithBrokenPipe) {
    IgnoreSigpipe ignore;
    Pipe pipe = make_pipe();
    pipe.read_end.reset();
    errno = 0;
    EXPECT_FALSE(write_all(pipe.write_end.get(), "x"));
    EXPECT_EQ(errno, EPIPE);
}

// Signal interruptions of a writer blocked on a full pipe. The handler is
// installed without SA_RESTART, so the blocked write returns early: with
// EINTR if it had not written anything yet, with a short count otherwise.
std::atomic<int> g_interruptions{0};
void count_interruption(int) {
    ++g_interruptions;
}

class BlockedWriter {
  public:
    BlockedWriter(UniqueFd write_end, std::string bytes)
        : previous_(install_handler()),
          bytes_(std::move(bytes)),
          thread_([this, fd = std::move(write_end)]() mutable {
              tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
              ok_ = write_all(fd.get(), bytes_);
              fd.reset();  // the reader sees the end even if the write gave up
          }) {}
    ~BlockedWriter() {
        if (thread_.joinable()) thread_.join();
        ::sigaction(SIGUSR1, &previous_, nullptr);
    }

    // Waits until the thread sleeps in the kernel, which here can only be in
    // its blocked write.
    void wait_until_blocked() const {
        while (tid_ == 0)
            std::this_thread::yield();
        const std::string stat = "/proc/self/task/" + std::to_string(tid_.load()) + "/stat";
        while (thread_state(stat) != 'S')
            std::this_thread::yield();
    }

    // Interrupts the write and waits until the handler has run.
    void interrupt() {
        const int before = g_interruptions;
        ::pthread_kill(thread_.native_handle(), SIGUSR1);
        while (g_interruptions == before)
            std::this_thread::yield();
    }

    bool finish() {
        thread_.join();
        return ok_;
    }

  private:
    static struct sigaction install_handler() {
        struct sigaction interrupt {};
        struct sigaction previous {};
        interrupt.sa_handler = count_interruption;
        ::sigaction(SIGUSR1, &interrupt, &previous);
        return previous;
    }

    static char thread_state(const std::string& stat_path) {
        char text[512] = {};
        UniqueFd fd(::open(stat_path.c_str(), O_RDONLY));
        if (!fd.valid() || ::read(fd.get(), text, sizeof text - 1) <= 0) return '?';
        const char* after_name = std::strrchr(text, ')');
        return after_name && after_name[1] == ' ' ? after_name[2] : '?';
    }

    struct sigaction previous_;
    std::string bytes_;
    std::atomic<pid_t> tid_{0};
    std::atomic<bool> ok_{false};
    std::thread thread_;
};

std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 % 251);
    return bytes;
}

std::string read_to_end(int fd) {
    std::string bytes;
    char block[16384];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return bytes;
        bytes.append(block, static_cast<std::size_t>(n));
    }
}

TEST(DescriptorIoTest, WriteInterruptedBeforeAnyByteIsRepeated) {
    IgnoreSigpipe ignore;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd read_end(fds[0]), write_end(fds[1]);
    ASSERT_EQ(::fcntl(write_end.get(), F_SETFL, O_NONBLOCK), 0);
    std::string filler;
    for (const std::size_t block : {4096, 1}) {
        const std::string bytes(block, 'f');
        while (::write(write_end.get(), bytes.data(), block) == static_cast<ssize_t>(block)) {
            filler += bytes;
        }
    }
    ASSERT_EQ(::fcntl(write_end.get(), F_SETFL, 0), 0);

    BlockedWriter writer(std::move(write_end), "after");
    writer.wait_until_blocked();
    writer.interrupt();
    EXPECT_EQ(read_to_end(read_end.get()), filler + "after");
    EXPECT_TRUE(writer.finish());
}

TEST(DescriptorIoTest, WriteCutShortBySignalIsContinued) {
    IgnoreSigpipe ignore;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd read_end(fds[0]), write_end(fds[1]);
    const auto capacity = ::fcntl(write_end.get(), F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    const std::string source = patterned(4 * static_cast<std::size_t>(capacity));

    BlockedWriter writer(std::move(write_end), source);
    int queued = 0;
    while (::ioctl(read_end.get(), FIONREAD, &queued) == 0 && queued < capacity) {
        std::this_thread::yield();
    }
    writer.interrupt();  // the pipe is full: the write has made progress
    EXPECT_TRUE(read_to_end(read_end.get()) == source);
    EXPECT_TRUE(writer.finish());
}

}  // namespace
}  // namespace velmot
