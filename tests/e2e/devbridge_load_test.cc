// The development bridge under load and misuse: idle connections by the
// hundred, clients that stop reading, queued clients that leave, a caller
// that captures its output, and a log that stops draining. None of them may
// hold up the bridge: other launchers are answered in time, and the bridge
// stops in time.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/descriptor_io.h"
#include "common/unique_fd.h"
#include "support/child_process.h"
#include "support/devbridge_session.h"
#include "support/temp_dir.h"

namespace velmot::testing {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kBridge = VELMOT_DEVBRIDGE_PATH;
constexpr int kGuardMs = 30'000;

// Says "holding" on its FIFO, then "term" for every SIGTERM, which it
// outlives: only SIGKILL ends it.
constexpr char kStubborn[] =
    "#!/bin/sh\nexec 3>\"$1\"\ntrap 'echo term >&3' TERM\necho holding >&3\n"
    "while :; do sleep 1; done\n";

std::string path_variable() {
    const char* path = std::getenv("PATH");
    return std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string probe_body(const std::string& args) {
    return R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"probe","argv":[)" +
           args + "]}";
}

// Whether `fd` becomes readable (or ends) within the guard.
bool readable_within_guard(int fd) {
    struct pollfd watch = {fd, POLLIN, 0};
    return ::poll(&watch, 1, kGuardMs) == 1;
}

class DevBridgeLoadTest : public ::testing::Test {
  protected:
    TempDir dir_;
    const std::string commands_ = make_commands();
    std::unique_ptr<ServedBridge> bridge_;

    std::string make_commands() {
        const std::string commands = dir_.path() + "/commands";
        ::mkdir(commands.c_str(), 0700);
        ::symlink(VELMOT_DEVBRIDGE_EXAMPLES "/probe", (commands + "/probe").c_str());
        std::ofstream(commands + "/stubborn") << kStubborn;
        ::chmod((commands + "/stubborn").c_str(), 0700);
        return commands;
    }

    void serve(const std::string& log) {
        bridge_ = std::make_unique<ServedBridge>(kBridge, commands_, log);
    }

    ChildPlan probe(const std::vector<std::string>& args) {
        ChildPlan plan = launcher_plan(dir_, *bridge_, "velmot-probe", args);
        plan.guard = std::chrono::seconds(20);
        return plan;
    }

    // A connection that sends `body` as an invocation and then reads
    // nothing, with a receive buffer as small as the system allows.
    UniqueFd stalled_request(const std::string& body) {
        UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int small = 1;
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(bridge_->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
                  0);
        EXPECT_TRUE(
            write_all(socket.get(), invocation_post(bridge_->port(), body, bridge_->token())));
        return socket;
    }
};

TEST_F(DevBridgeLoadTest, IdleConnectionsBeyondEverySlotKeepNoLauncherWaiting) {
    serve(dir_.path() + "/log");
    std::vector<UniqueFd> idle;
    for (int i = 0; i < 300; ++i)
        idle.push_back(connect_to(bridge_->port()));
    const auto start = Clock::now();
    const ChildResult run = run_child(probe({"out", "x"}));
    EXPECT_EQ(run.out, "x");
    EXPECT_EQ(run.exit_code(), 0);
    EXPECT_LT(seconds_since(start), 3.0);
}

TEST_F(DevBridgeLoadTest, ClientsThatStopReadingHoldNoWorkerAndDoNotDelayTheStop) {
    serve(dir_.path() + "/log");
    std::vector<UniqueFd> stalled;
    for (int i = 0; i < 16; ++i)
        stalled.push_back(stalled_request(probe_body(R"("bytes","3000000")")));
    // Each reply has begun to arrive: its command has ended and its worker
    // has got as far as sending.
    for (const UniqueFd& socket : stalled)
        ASSERT_TRUE(readable_within_guard(socket.get()));
    auto start = Clock::now();
    const ChildResult run = run_child(probe({"out", "x"}));
    EXPECT_EQ(run.out, "x");
    EXPECT_LT(seconds_since(start), 5.0);

    start = Clock::now();
    const int stopped = bridge_->stop();
    EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;
    EXPECT_LT(seconds_since(start), 5.0);
}

TEST_F(DevBridgeLoadTest, AStoppingBridgeRefusesNewConnectionsAtOnce) {
    serve(dir_.path() + "/log");
    const std::string fifo = dir_.path() + "/stubborn";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess launcher(launcher_plan(dir_, *bridge_, "velmot-stubborn", {fifo}));
    const UniqueFd said(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
    char line[8];
    ASSERT_EQ(::read(said.get(), line, sizeof line), 8);
    ::kill(bridge_->pid(), SIGTERM);
    // The command has its SIGTERM: the bridge is stopping, and closed its
    // listener before it signalled any command.
    ASSERT_TRUE(readable_within_guard(said.get()));
    ASSERT_EQ(::read(said.get(), line, 5), 5);
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(bridge_->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(launcher.finish().exit_code(), 125);
}

TEST_F(DevBridgeLoadTest, QueuedRequestsWhoseClientsLeftAreNeverStarted) {
    serve(dir_.path() + "/log");
    std::vector<std::unique_ptr<ChildProcess>> running;
    for (int i = 0; i < 16; ++i) {
        const std::string fifo = dir_.path() + "/held" + std::to_string(i);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        running.push_back(std::make_unique<ChildProcess>(probe({"hold", fifo})));
        const UniqueFd held(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
        char line[8];
        ASSERT_EQ(::read(held.get(), line, sizeof line), 8);
    }
    std::vector<UniqueFd> queued;
    for (int i = 0; i < 20; ++i) {
        queued.push_back(connect_to(bridge_->port()));
        const std::string marker = dir_.path() + "/ran" + std::to_string(i);
        ASSERT_TRUE(
            write_all(queued.back().get(),
                      invocation_post(bridge_->port(), probe_body(R"("hold",")" + marker + "\""),
                                      bridge_->token())));
    }
    // Requests are read in the order they arrive: once a later one has been
    // refused, every queued one has been read and waits for a worker.
    EXPECT_EQ(
        http_exchange(bridge_->port(), invocation_post(bridge_->port(), "{}", "")).substr(0, 13),
        "HTTP/1.1 401 ");
    queued.clear();
    // Their launchers gone, the running commands end and free the workers.
    for (auto& launcher : running) {
        ::kill(launcher->pid(), SIGKILL);
        launcher->finish();
    }
    // Stopping waits for every worker, so every queued request has been
    // taken up by then.
    const int stopped = bridge_->stop();
    EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;
    for (int i = 0; i < 20; ++i) {
        EXPECT_NE(::access((dir_.path() + "/ran" + std::to_string(i)).c_str(), F_OK), 0) << i;
    }
}

TEST_F(DevBridgeLoadTest, ServingLetsGoOfEveryStreamItsCallerReads) {
    // Started as $(...) 2>&1 would: the caller reads both streams to their
    // end, which comes only once no process holds them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ChildPlan plan;
    plan.executable = kBridge;
    plan.argv = {"velmot_devbridge", "--commands", commands_, "--sh", "--serve"};
    plan.env = {path_variable()};
    plan.guard = std::chrono::seconds(10);
    const ChildResult started = run_child(plan);
    EXPECT_EQ(started.wait_status, 0);
    // Without --log the bridge logs nowhere: not on the caller's terminal.
    EXPECT_EQ(started.err, "");
    std::string digits = exported_value(started.out, "VELMOT_DEVBRIDGE_PID");
    const pid_t pid = static_cast<pid_t>(std::strtol(digits.c_str(), nullptr, 10));
    ASSERT_GT(pid, 1) << started.out;
    ::kill(pid, SIGTERM);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(DevBridgeLoadTest, ALogThatStopsDrainingHoldsUpNoAnswer) {
    const std::string fifo = dir_.path() + "/log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const UniqueFd log(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    // The smallest pipe: a few dozen lines fill it.
    ::fcntl(log.get(), F_SETPIPE_SZ, 4096);
    serve(fifo);
    const std::string request = invocation_post(
        bridge_->port(),
        R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"nosuch","argv":[]})",
        bridge_->token());
    for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(http_exchange(bridge_->port(), request).substr(0, 13), "HTTP/1.1 200 ") << i;
    }
    // Once the log drains again, it says how many lines it had to drop.
    std::string lines;
    char block[4096];
    while (lines.find(" log lines dropped") == std::string::npos) {
        ASSERT_TRUE(readable_within_guard(log.get())) << lines;
        const ssize_t got = ::read(log.get(), block, sizeof block);
        if (got > 0) lines.append(block, static_cast<std::size_t>(got));
    }
}

}  // namespace
}  // namespace velmot::testing
