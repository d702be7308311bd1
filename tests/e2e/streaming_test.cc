// Output is replayed while the bridge is still sending, survives the
// launcher being stopped and continued mid-reply, and a standard output
// whose reader has gone ends the run as a transport failure rather than by
// a signal.

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

// A reply split in two: the head with the first frame, then the rest of the
// body once the test gives the go-ahead.
struct SplitReply {
    std::string first;
    std::string rest;
};

SplitReply split_reply(const std::string& first_frame, const std::string& rest_of_body) {
    const std::string whole = ok_response(first_frame + rest_of_body);
    const std::size_t cut = whole.size() - rest_of_body.size();
    return {whole.substr(0, cut), whole.substr(cut)};
}

TEST(Streaming, FirstChunkArrivesBeforeTheBridgeSendsMore) {
    const SplitReply reply =
        split_reply(stdout_frame("first\n"), stdout_frame("second\n") + terminal_frame(4));
    ScriptedBridge bridge({send_bytes(reply.first), await_go_ahead(), send_bytes(reply.rest)});
    ChildProcess launcher(launcher_plan(bridge.endpoint(), {"velmot"}));
    EXPECT_EQ(launcher.read_out_until(6), "first\n");
    bridge.go_ahead();
    const ChildResult run = launcher.finish();
    EXPECT_EQ(run.exit_code(), 4);
    EXPECT_EQ(run.out, "first\nsecond\n");
    EXPECT_EQ(run.err, "");
}

// The launcher waits for the rest of the reply with a receive time limit set,
// which makes a receive that a stop signal interrupted return early, without
// data, once the process is continued; the launcher must receive again.
TEST(Streaming, StopAndContinueLeaveTheReplyIntact) {
    const SplitReply reply =
        split_reply(stdout_frame("before\n"),
                    stderr_frame("during\n") + stdout_frame("after\n") + terminal_frame(9));
    ScriptedBridge bridge({send_bytes(reply.first), await_go_ahead(), send_bytes(reply.rest)});
    ChildProcess launcher(launcher_plan(bridge.endpoint(), {"velmot-notes", "tail"}));
    EXPECT_EQ(launcher.read_out_until(7), "before\n");
    ASSERT_TRUE(launcher.wait_blocked_in(SYS_recvfrom));
    ASSERT_EQ(::kill(launcher.pid(), SIGSTOP), 0);
    ASSERT_TRUE(launcher.wait_stopped());
    bridge.go_ahead();
    EXPECT_TRUE(bridge.script_played());
    ASSERT_EQ(::kill(launcher.pid(), SIGCONT), 0);
    const ChildResult run = launcher.finish();
    EXPECT_EQ(run.exit_code(), 9);
    EXPECT_EQ(run.out, "before\nafter\n");
    EXPECT_EQ(run.err, "during\n");
}

TEST(Streaming, StdoutReaderGoneIsATransportFailure) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    ScriptedBridge bridge({send_bytes(ok_response(stdout_frame("lost\n") + terminal_frame(0)))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::descriptor(fds[1]);
    const ChildResult run = run_child(plan);
    ::close(fds[1]);
    EXPECT_TRUE(run.exited()) << "ended by signal " << WTERMSIG(run.wait_status);
    EXPECT_EQ(run.exit_code(), 70);
    EXPECT_EQ(run.err, kTransportFailureLine);
}

TEST(Streaming, ClosedStdoutSwallowsOutput) {
    ScriptedBridge bridge({send_bytes(
        ok_response(stdout_frame("gone\n") + stderr_frame("seen\n") + terminal_frame(5)))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::closed();
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 5);
    EXPECT_EQ(run.err, "seen\n");
}

// Many full-size chunks, sent in one piece: every byte is replayed in order.
TEST(Streaming, LargeOutputArrivesWhole) {
    std::string expected;
    std::string body;
    for (int i = 0; i < 64; ++i) {
        std::string chunk(65'536, static_cast<char>('a' + i % 26));
        chunk.back() = '\n';
        chunk[i] = '\0';
        expected += chunk;
        body += stdout_frame(chunk);
    }
    body += terminal_frame(0);
    ScriptedBridge bridge({send_bytes(ok_response(body))});
    const ChildResult run = run_child(launcher_plan(bridge.endpoint(), {"velmot"}));
    EXPECT_EQ(run.exit_code(), 0);
    EXPECT_EQ(run.out.size(), expected.size());
    EXPECT_TRUE(run.out == expected);
    EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace velmot::testing
