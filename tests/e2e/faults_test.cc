// The launcher's own descriptors in every awkward state: standard output or
// standard error closed at start, standard output a full pipe drained slowly,
// a pipe whose reader has gone, before or in the middle of a run. And the
// access token, which must never appear in anything the launcher prints,
// whichever way a run fails.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

using namespace std::string_literals;

// A pipe whose ends close with the test.
struct Pipe {
    int read_end = -1;
    int write_end = -1;

    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2";
        read_end = fds[0];
        write_end = fds[1];
    }
    ~Pipe() {
        close_read();
        close_write();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    void close_read() {
        if (read_end >= 0) ::close(read_end);
        read_end = -1;
    }
    void close_write() {
        if (write_end >= 0) ::close(write_end);
        write_end = -1;
    }
};

// Fills the pipe until a write would block, then makes it blocking again (the
// flag is shared with the child that inherits the write end). Returns the
// number of filler bytes.
std::size_t fill(const Pipe& pipe) {
    const int flags = ::fcntl(pipe.write_end, F_GETFL);
    ::fcntl(pipe.write_end, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, '#');
    std::size_t filled = 0;
    for (;;) {
        const ssize_t n = ::write(pipe.write_end, block.data(), block.size());
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    ::fcntl(pipe.write_end, F_SETFL, flags);
    return filled;
}

// Reads the pipe to its end in pieces of at most `piece` bytes, each read
// waiting on poll for the writer.
std::string drain_slowly(int fd, std::size_t piece) {
    std::string all;
    std::vector<char> buffer(piece);
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 30'000) != 1) {
            ADD_FAILURE() << "the launcher stopped writing";
            return all;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) return all;
        all.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

// --- Closed at start --------------------------------------------------------

TEST(ClosedAtStart, StdoutOutputVanishesAndTheStatusStays) {
    ScriptedBridge bridge({send_bytes(ok_response(stdout_frame("gone\n") + stderr_frame("seen\n") +
                                                  stdout_frame("tail") + terminal_frame(5)))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::closed();
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 5);
    EXPECT_EQ(run.err, "seen\n");
}

TEST(ClosedAtStart, StderrOutputAndFailureLineVanishAndTheStatusStays) {
    ScriptedBridge bridge({send_bytes(ok_response(stderr_frame("gone\n") + stdout_frame("seen\n") +
                                                  failure_frame("denied", "no", 77)))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.err = StreamSetup::closed();
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 77);
    EXPECT_EQ(run.out, "seen\n");
}

TEST(ClosedAtStart, BothClosedAndABridgeFailureStillEndsWith70) {
    ScriptedBridge bridge({send_bytes(ok_response(stdout_frame("x\n") + "garbage\n"))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::closed();
    plan.err = StreamSetup::closed();
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 70);
}

// --- A full pipe, read slowly ---------------------------------------------------

// The pipe is full before the launcher starts, so its first write blocks;
// the test then takes small pieces at a time. Lines, long unterminated
// stretches, NUL bytes and both streams interleave; nothing may be lost,
// duplicated or reordered on standard output.
TEST(FullPipe, SlowReaderGetsEveryByteInOrder) {
    std::string body;
    std::string expected;
    std::string expected_err;
    for (int i = 0; i < 40; ++i) {
        std::string chunk = "line " + std::to_string(i) + "\n";
        if (i % 3 == 0) chunk += std::string(5'000 + i, static_cast<char>('a' + i % 26));
        if (i % 5 == 0) chunk += "\0nul\n"s;
        if (i % 7 == 0) chunk += std::string(65'536 - chunk.size(), 'z');
        body += stdout_frame(chunk);
        expected += chunk;
        if (i % 4 == 0) {
            body += stderr_frame("progress\n");
            expected_err += "progress\n";
        }
    }
    body += terminal_frame(21);
    ScriptedBridge bridge({send_bytes(ok_response(body))});

    Pipe pipe;
    const std::size_t filler = fill(pipe);
    ASSERT_GT(filler, 0u);
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::descriptor(pipe.write_end);
    ChildProcess launcher(plan);
    pipe.close_write();
    const std::string got = drain_slowly(pipe.read_end, 512);
    const ChildResult run = launcher.finish();

    EXPECT_EQ(run.exit_code(), 21);
    ASSERT_EQ(got.size(), filler + expected.size());
    EXPECT_EQ(got.substr(0, filler), std::string(filler, '#'));
    EXPECT_TRUE(got.substr(filler) == expected) << "standard output differs";
    EXPECT_EQ(run.err, expected_err);
}

// --- A reader that has gone ---------------------------------------------------------

// The first chunk reaches the test; then the reader goes and the next chunk
// that must reach the pipe fails the run. No signal ends the launcher.
TEST(ReaderGone, StdoutMidRunIsATransportFailure) {
    ScriptedBridge bridge(
        {send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + stdout_frame("first\n")),
         await_go_ahead(), send_bytes(stdout_frame("second\n") + stderr_frame("never\n"))});
    Pipe pipe;
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::descriptor(pipe.write_end);
    ChildProcess launcher(plan);
    pipe.close_write();
    char first[6];
    ASSERT_EQ(::read(pipe.read_end, first, sizeof first), 6);
    EXPECT_EQ(std::string(first, 6), "first\n");
    pipe.close_read();
    bridge.go_ahead();
    const ChildResult run = launcher.finish();
    EXPECT_TRUE(run.exited()) << "ended by signal " << WTERMSIG(run.wait_status);
    EXPECT_EQ(run.exit_code(), 70);
    EXPECT_EQ(run.err, kTransportFailureLine);
}

// Output still held in the line buffer at exit is dropped with the pipe, and
// the status stays the bridge's.
TEST(ReaderGone, StdoutWithOnlyHeldBytesKeepsTheStatus) {
    ScriptedBridge bridge(
        {send_bytes(ok_response(stdout_frame("no line feed") + terminal_frame(7)))});
    Pipe pipe;
    pipe.close_read();
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::descriptor(pipe.write_end);
    const ChildResult run = run_child(plan);
    EXPECT_TRUE(run.exited());
    EXPECT_EQ(run.exit_code(), 7);
    EXPECT_EQ(run.err, "");
}

// A failure line that cannot be written ends the run with 101 at once; the
// held standard output is still flushed on the way out.
TEST(ReaderGone, StderrWhileTheBridgeFailureLineIsWrittenEndsWith101) {
    ScriptedBridge bridge({send_bytes(ok_response(
        stdout_frame("held") + failure_frame("denied", "no", 3) + "more that is never read\n"))});
    Pipe pipe;
    pipe.close_read();
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.err = StreamSetup::descriptor(pipe.write_end);
    const ChildResult run = run_child(plan);
    EXPECT_TRUE(run.exited()) << "ended by signal " << WTERMSIG(run.wait_status);
    EXPECT_EQ(run.exit_code(), 101);
    EXPECT_EQ(run.out, "held");
}

// A standard-error chunk that cannot be written fails the run, and then the
// transport-failure line cannot be written either.
TEST(ReaderGone, StderrForOutputAndTheTransportLineEndsWith101) {
    ScriptedBridge bridge({send_bytes(
        ok_response(stdout_frame("shown\n") + stderr_frame("lost\n") + terminal_frame(0)))});
    Pipe pipe;
    pipe.close_read();
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.err = StreamSetup::descriptor(pipe.write_end);
    const ChildResult run = run_child(plan);
    EXPECT_TRUE(run.exited()) << "ended by signal " << WTERMSIG(run.wait_status);
    EXPECT_EQ(run.exit_code(), 101);
    EXPECT_EQ(run.out, "shown\n");
}

// --- Output lost at exit ----------------------------------------------------------

// The last partial line of standard output leaves at exit. When that write
// fails for a reason other than a reader that has gone (here a full disk),
// the output is lost and the run must not report success; a run that has
// failed already keeps its one failure line.
TEST(LostAtExit, AFailedFinalFlushIsATransportFailure) {
    const std::string line(kTransportFailureLine);
    const struct Case {
        const char* name;
        std::string body;
        bool stderr_reader_gone;
        int status;
        std::string err;
    } cases[] = {
        {"after a terminal frame", stdout_frame("partial") + terminal_frame(0), false, 70, line},
        {"after a bridge failure line", stdout_frame("partial") + failure_frame("denied", "no", 3),
         false, 70, "plugin.cli.bridge_denied: no\n" + line},
        {"after the run failed", stdout_frame("partial") + "garbage\n", false, 70, line},
        {"with no output held", stderr_frame("note\n") + terminal_frame(4), false, 4, "note\n"},
        {"when the line cannot be written", stdout_frame("partial") + terminal_frame(0), true, 101,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBridge bridge({send_bytes(ok_response(c.body))});
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0);
        Pipe pipe;
        pipe.close_read();
        ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot-probe"});
        plan.out = StreamSetup::descriptor(full);
        if (c.stderr_reader_gone) plan.err = StreamSetup::descriptor(pipe.write_end);
        const ChildResult run = run_child(plan);
        ::close(full);
        EXPECT_EQ(run.exit_code(), c.status);
        EXPECT_EQ(run.err, c.err);
    }
}

// --- The token never leaks ------------------------------------------------------------

constexpr std::string_view kSecret = "zq7-SECRET-token-5d1f";

struct LeakCase {
    enum class Target { Bridge, BadEndpoint, NothingListening };
    const char* name;
    std::string reply;  // the bridge's, when the run reaches it
    Target target = Target::Bridge;
    std::string argv0 = "velmot";
    bool broken_stdout = false;
    int status = 70;
};

// A port nothing listens on: one the system just handed out and took back.
std::string refused_endpoint() {
    ScriptedBridge closed_soon({});
    return closed_soon.endpoint();
}

std::string endpoint_for(const LeakCase& c, const ScriptedBridge& bridge) {
    switch (c.target) {
        case LeakCase::Target::BadEndpoint:
            return "http://127.0.0.1:0/bridge";
        case LeakCase::Target::NothingListening:
            return refused_endpoint();
        case LeakCase::Target::Bridge:
            break;
    }
    return bridge.endpoint();
}

class TokenLeak : public ::testing::TestWithParam<LeakCase> {};

TEST_P(TokenLeak, NeverAppearsInAnythingPrinted) {
    const LeakCase& c = GetParam();
    ScriptedBridge bridge({send_bytes(c.reply)});
    ChildPlan plan = launcher_plan(endpoint_for(c, bridge), {c.argv0, "list"}, kSecret);
    Pipe pipe;
    pipe.close_read();
    if (c.broken_stdout) plan.out = StreamSetup::descriptor(pipe.write_end);
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), c.status);
    EXPECT_EQ(run.out.find(kSecret), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(kSecret), std::string::npos) << run.err;
    if (c.target == LeakCase::Target::Bridge && c.argv0 == "velmot") {
        // The token did go out, in its header, so the run had it in hand.
        const std::optional<std::string> request = bridge.request();
        ASSERT_TRUE(request.has_value());
        EXPECT_NE(request->find("X-Velmot-Plugin-Cli-Token: " + std::string(kSecret) + "\r\n"),
                  std::string::npos);
    }
}

using Target = LeakCase::Target;

INSTANTIATE_TEST_SUITE_P(
    FailurePaths, TokenLeak,
    ::testing::Values(LeakCase{"BadEndpoint", "", Target::BadEndpoint},
                      LeakCase{"RefusedName", "", Target::Bridge, "velmot-Not_Allowed"},
                      LeakCase{"RefusedConnect", "", Target::NothingListening},
                      LeakCase{"BadStatusLine", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"},
                      LeakCase{"BadFrame", ok_response("{\"kind\":\"plugin_cli_terminal\"}\n")},
                      LeakCase{"FailureFrame",
                               ok_response(failure_frame("denied", "permission denied", 77)),
                               Target::Bridge, "velmot", false, 77},
                      LeakCase{"FailureFrameThenMore",
                               ok_response(failure_frame("denied", "no", 1) + terminal_frame(0))},
                      LeakCase{"BrokenStdout",
                               ok_response(stdout_frame("out\n") + terminal_frame(0)),
                               Target::Bridge, "velmot", true},
                      LeakCase{"Success", ok_response(stdout_frame("fine\n") + terminal_frame(0)),
                               Target::Bridge, "velmot", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A token the launcher refuses is not echoed either.
TEST(TokenLeak, RefusedTokenIsNotEchoed) {
    std::string line_feed_first = "\n";
    line_feed_first += kSecret;
    for (const std::string& token : {std::string(kSecret) + "\r", line_feed_first}) {
        const ChildResult run =
            run_child(launcher_plan("http://127.0.0.1:1/bridge", {"velmot"}, token));
        EXPECT_EQ(run.exit_code(), 70);
        EXPECT_EQ(run.err, kTransportFailureLine);
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace velmot::testing
