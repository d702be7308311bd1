// The development bridge against clients and commands that misbehave:
// requests that break its bounds or come from elsewhere, slow clients,
// another process on its port, launchers that go away, and commands that
// leave children holding their output; and commands as plug-in authors
// write them: scripts without an interpreter line, commands that call
// launchers themselves, and output that should be seen as it comes.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <iterator>
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

constexpr int kGuardMs = 30'000;

// Scripts for the commands directory, each for one way to misbehave.
constexpr char kHold[] =  // holds its first argument, a FIFO, open until it ends
    "#!/bin/sh\nexec 3>\"$1\"; printf 'holding\\n' >&3; exec sleep 600\n";
constexpr char kEscape[] =  // a child in a session of its own keeps the output pipes
    "#!/bin/sh\nsetsid sh -c 'echo $$ >\"$0\"; exec sleep 600' \"$1\" &\necho started\n";

constexpr char kNested[] =  // no "#!" line: runs the launcher it is given
    "exec \"$@\"\n";
constexpr char kStepwise[] =  // one line, then another once its FIFO has a line
    "#!/bin/sh\necho first; read line <\"$1\"; echo second\n";
constexpr char kCrlf[] =  // saved with CRLF line ends
    "#!/bin/sh\r\necho hi\r\n";
constexpr char kNoInterpreter[] = "#!/nonexistent/interpreter -x\necho hi\n";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string hex(std::size_t value) {
    char digits[16];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, value, 16).ptr);
}

// Reads `fd` until it ends; false if it is still open when the guard ends.
bool ends_within_guard(int fd) {
    char block[256];
    for (;;) {
        struct pollfd watch = {fd, POLLIN, 0};
        if (::poll(&watch, 1, kGuardMs) != 1) return false;
        if (::read(fd, block, sizeof block) <= 0) return true;
    }
}

class DevBridgeHostileTest : public ::testing::Test {
  protected:
    TempDir dir_;
    const std::string commands_ = make_commands();
    ServedBridge bridge_{VELMOT_DEVBRIDGE_PATH, commands_, dir_.path() + "/log"};

    std::string make_commands() {
        const std::string commands = dir_.path() + "/commands";
        ::mkdir(commands.c_str(), 0700);
        for (const auto& [name, text] : {std::pair{"hold", kHold},
                                         {"escape", kEscape},
                                         {"nested", kNested},
                                         {"stepwise", kStepwise},
                                         {"crlf", kCrlf},
                                         {"uninterpreted", kNoInterpreter}}) {
            std::ofstream(commands + "/" + name) << text;
            ::chmod((commands + "/" + name).c_str(), 0700);
        }
        ::symlink(VELMOT_DEVBRIDGE_EXAMPLES "/probe", (commands + "/probe").c_str());
        ::symlink(VELMOT_DEVBRIDGE_EXAMPLES "/probe", (commands + "/core").c_str());
        ::symlink("/nonexistent/ghost", (commands + "/ghost").c_str());
        return commands;
    }

    ChildPlan launcher_plan(const std::string& id, const std::vector<std::string>& args) {
        return testing::launcher_plan(dir_, bridge_, "velmot-" + id, args);
    }

    std::string post(std::string_view body) {
        return invocation_post(bridge_.port(), body, bridge_.token());
    }
    std::string head(std::string_view fields) {
        return "POST /plugin-cli HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(bridge_.port()) +
               "\r\nX-Velmot-Plugin-Cli-Token: " + bridge_.token() + "\r\n" + std::string(fields);
    }

    // Starts `hold` and returns once it runs, with the FIFO it holds open.
    UniqueFd start_hold(std::unique_ptr<ChildProcess>& launcher) {
        const std::string fifo = dir_.path() + "/held";
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        launcher = std::make_unique<ChildProcess>(launcher_plan("hold", {fifo}));
        UniqueFd held(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
        char line[8];
        EXPECT_EQ(::read(held.get(), line, sizeof line), 8);
        return held;
    }
};

TEST_F(DevBridgeHostileTest, RefusesRequestsBeyondItsBoundsOrFromElsewhere) {
    const std::string core =
        R"({"protocol_version":1,"kind":"core_cli_invoke","argv":["version"]})";
    const std::string host = "Host: 127.0.0.1:" + std::to_string(bridge_.port()) + "\r\n";
    std::string many_fields;
    for (int i = 0; i < 101; ++i)
        many_fields += "X-" + std::to_string(i) + ": 1\r\n";
    std::string chunked_flood = head("Transfer-Encoding: chunked\r\n\r\n");
    for (int i = 0; i < 33; ++i)
        chunked_flood += "10000\r\n" + std::string(65536, ' ') + "\r\n";
    struct Case {
        const char* what;
        std::string request;
        std::string status;
    };
    const Case cases[] = {
        {"101 fields", head(many_fields + "\r\n"), "HTTP/1.1 431 "},
        {"17 KiB field", head("X-Big: " + std::string(17 * 1024, 'a') + "\r\n\r\n"),
         "HTTP/1.1 431 "},
        {"body over 2 MiB", head("Content-Length: 3000000\r\n\r\n"), "HTTP/1.1 413 "},
        {"chunked over 2 MiB", chunked_flood, "HTTP/1.1 413 "},
        {"encoded body", head("Content-Encoding: gzip\r\nContent-Length: 2\r\n\r\n{}"),
         "HTTP/1.1 415 "},
        {"chunked request",
         head("Transfer-Encoding: chunked\r\n\r\n5\r\n" + core.substr(0, 5) + "\r\n" +
              hex(core.size() - 5) + "\r\n" + core.substr(5) + "\r\n0\r\n\r\n"),
         "HTTP/1.1 200 "},
        {"other host",
         "POST /plugin-cli HTTP/1.1\r\nHost: evil.example:" + std::to_string(bridge_.port()) +
             "\r\n\r\n",
         "HTTP/1.1 403 "},
        {"web page", head("Origin: http://evil.example\r\n\r\n"), "HTTP/1.1 403 "},
        {"no host", "POST /plugin-cli HTTP/1.1\r\n\r\n", "HTTP/1.1 400 "},
        {"wrong method", "GET /plugin-cli HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 405 "},
        {"repeated member",
         post(R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"hold",)"
              R"("plugin_id":"escape","argv":[]})"),
         "HTTP/1.1 400 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(http_exchange(bridge_.port(), c.request).substr(0, c.status.size()), c.status);
    }
    EXPECT_NE(http_exchange(bridge_.port(), "GET /plugin-cli HTTP/1.1\r\n" + host + "\r\n")
                  .find("\r\nAllow: POST\r\n"),
              std::string::npos);
}

TEST_F(DevBridgeHostileTest, SlowClientsDelayNobodyAndNotTheStop) {
    std::vector<UniqueFd> slow;
    for (int i = 0; i < 50; ++i) {
        slow.push_back(connect_to(bridge_.port()));
        ASSERT_TRUE(write_all(slow.back().get(), "P"));
    }
    const ChildResult run = run_child(launcher_plan("nosuch", {}));
    // The bridge answered while every slow request was still arriving.
    EXPECT_EQ(run.exit_code(), 127);
    for (const UniqueFd& socket : slow) {
        struct pollfd watch = {socket.get(), POLLIN, 0};
        EXPECT_EQ(::poll(&watch, 1, 0), 0);
    }
    const int stopped = bridge_.stop();
    EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;
}

TEST_F(DevBridgeHostileTest, StoppingAnswersRequestsStillWaitingForTheirTurn) {
    std::vector<std::unique_ptr<ChildProcess>> running;
    for (int i = 0; i < 16; ++i) {
        const std::string fifo = dir_.path() + "/held" + std::to_string(i);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        running.push_back(std::make_unique<ChildProcess>(launcher_plan("hold", {fifo})));
        const UniqueFd held(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
        char line[8];
        ASSERT_EQ(::read(held.get(), line, sizeof line), 8);
    }
    const UniqueFd waiting = connect_to(bridge_.port());
    ASSERT_TRUE(write_all(
        waiting.get(),
        post(R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"hold","argv":[]})")));
    // Requests are read in the order they arrive: once a later one has been
    // refused, the waiting one has been read and waits for a worker.
    EXPECT_EQ(
        http_exchange(bridge_.port(), invocation_post(bridge_.port(), "{}", "")).substr(0, 13),
        "HTTP/1.1 401 ");
    bridge_.stop();
    for (auto& launcher : running)
        EXPECT_EQ(launcher->finish().exit_code(), 125);
    std::string reply;
    char block[4096];
    for (ssize_t got; (got = ::recv(waiting.get(), block, sizeof block, 0)) > 0;)
        reply.append(block, static_cast<std::size_t>(got));
    EXPECT_NE(reply.find(R"("code":"bridge_stopping")"), std::string::npos) << reply;
}

TEST_F(DevBridgeHostileTest, NoOtherSocketCanBindItsPort) {
    const UniqueFd other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(other.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(other.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(bridge_.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::bind(other.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
}

TEST_F(DevBridgeHostileTest, AClientThatGoesAwayStopsItsCommand) {
    // Killed, or closing its side after the request: either way nobody reads
    // the answer, and the command must not hold a worker for good.
    for (const bool half_close : {false, true}) {
        SCOPED_TRACE(half_close ? "half-closed" : "killed");
        std::unique_ptr<ChildProcess> launcher;
        UniqueFd socket;
        std::string fifo_path = dir_.path() + "/held";
        ::unlink(fifo_path.c_str());
        UniqueFd held;
        if (half_close) {
            ASSERT_EQ(::mkfifo(fifo_path.c_str(), 0600), 0);
            socket = connect_to(bridge_.port());
            ASSERT_TRUE(write_all(
                socket.get(),
                post(R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"hold",)"
                     R"("argv":[")" +
                     fifo_path + R"("]})")));
            held.reset(::open(fifo_path.c_str(), O_RDONLY | O_CLOEXEC));
            char line[8];
            ASSERT_EQ(::read(held.get(), line, sizeof line), 8);
            ::shutdown(socket.get(), SHUT_WR);
        } else {
            held = start_hold(launcher);
            ::kill(launcher->pid(), SIGKILL);
            launcher->finish();
        }
        EXPECT_TRUE(ends_within_guard(held.get()));
        if (half_close) {
            // Closed without an answer: the answer was never sent.
            struct pollfd watch = {socket.get(), POLLIN, 0};
            char byte;
            ASSERT_EQ(::poll(&watch, 1, kGuardMs), 1);
            EXPECT_EQ(::recv(socket.get(), &byte, 1, 0), 0);
        }
    }
    bridge_.stop();
    EXPECT_NE(read_file(dir_.path() + "/log").find("hold abandoned by its client"),
              std::string::npos);
}

TEST_F(DevBridgeHostileTest, ChildrenThatKeepTheOutputOpenDoNotDelayTheAnswer) {
    const std::string fifo = dir_.path() + "/pid";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Read and write, so that the FIFO never reports an end before the
    // child has written to it.
    const UniqueFd pid_pipe(::open(fifo.c_str(), O_RDWR | O_CLOEXEC));
    const ChildResult run = run_child(launcher_plan("escape", {fifo}));
    EXPECT_EQ(run.out, "started\n");
    EXPECT_EQ(run.exit_code(), 0);
    char digits[32] = {};
    struct pollfd watch = {pid_pipe.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&watch, 1, kGuardMs), 1);
    ASSERT_GT(::read(pid_pipe.get(), digits, sizeof digits - 1), 0);
    ::kill(static_cast<pid_t>(std::stol(digits)), SIGKILL);
}

TEST_F(DevBridgeHostileTest, CommandsWithoutInterpreterLineCanCallLaunchers) {
    const std::string nosuch = dir_.link("velmot-nosuch", VELMOT_LAUNCHER_PATH);
    const ChildResult run = run_child(launcher_plan("nested", {nosuch}));
    EXPECT_EQ(run.err, "plugin.cli.bridge_unknown_plugin: no plug-in with the id \"nosuch\" in " +
                           commands_ + "\n");
    EXPECT_EQ(run.exit_code(), 127);
}

TEST_F(DevBridgeHostileTest, StreamedRepliesShowOutputAsItComesAndEndAsBufferedOnes) {
    ServedBridge streamed(VELMOT_DEVBRIDGE_PATH, commands_, dir_.path() + "/log", {"--stream"});
    const auto streamed_plan = [&](const std::string& id, const std::vector<std::string>& args) {
        ChildPlan plan = launcher_plan(id, args);
        plan.env = streamed.launcher_env();
        return plan;
    };
    const std::vector<std::string> shapes[] = {
        {"both"}, {"binary"}, {"exit", "3"}, {"bytes", "13000000"}};
    for (const auto& args : shapes) {
        SCOPED_TRACE(args[0]);
        const ChildResult buffered = run_child(launcher_plan("probe", args));
        const ChildResult live = run_child(streamed_plan("probe", args));
        // Output too large for one reply is cut where the chunks read so far
        // stop fitting, which differs from run to run.
        const bool cut = live.exit_code() == 125;
        EXPECT_TRUE(cut ? live.out.size() > 9'000'000 : live.out == buffered.out);
        EXPECT_EQ(live.err, buffered.err);
        EXPECT_EQ(live.wait_status, buffered.wait_status);
    }
    const std::string fifo = dir_.path() + "/step";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess launcher(streamed_plan("stepwise", {fifo}));
    // The first line arrives while the command still waits for the second.
    EXPECT_EQ(launcher.read_out_until(6), "first\n");
    const UniqueFd step(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(write_all(step.get(), "go\n"));
    const ChildResult run = launcher.finish();
    EXPECT_EQ(run.out, "first\nsecond\n");
    EXPECT_EQ(run.exit_code(), 0);
}

TEST_F(DevBridgeHostileTest, StopsTheBridgeThatItsLinesNamed) {
    // The bridge left the starting process's session.
    EXPECT_EQ(::getsid(bridge_.pid()), bridge_.pid());
    ChildPlan stop;
    stop.executable = VELMOT_DEVBRIDGE_PATH;
    stop.argv = {"velmot_devbridge", "--csh", "--stop"};
    stop.env = {"VELMOT_DEVBRIDGE_PID=" + std::to_string(bridge_.pid())};
    const ChildResult stopped = run_child(stop);
    EXPECT_EQ(stopped.out,
              "unsetenv VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT;\n"
              "unsetenv VELMOT_INTERNAL_PLUGIN_CLI_TOKEN;\nunsetenv VELMOT_DEVBRIDGE_PID;\n");
    EXPECT_EQ(stopped.exit_code(), 0);
    const int status = bridge_.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // A process that is no bridge is left alone.
    stop.env = {"VELMOT_DEVBRIDGE_PID=" + std::to_string(::getpid())};
    EXPECT_EQ(run_child(stop).exit_code(), 1);
}

TEST_F(DevBridgeHostileTest, FailuresSayWhatWasLookedForAndWhatStoodInTheWay) {
    struct Case {
        const char* id;
        std::string err;
        int status;
    };
    const Case cases[] = {
        {"nosuch", "no plug-in with the id \"nosuch\" in " + commands_ + "\n", 127},
        {"ghost", "; " + commands_ + "/ghost is a link to nothing\n", 127},
        {"crlf", "; its interpreter line names /bin/sh followed by a carriage return", 126},
        {"uninterpreted", "; its interpreter line names /nonexistent/interpreter\n", 126},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const ChildResult run = run_child(launcher_plan(c.id, {}));
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.exit_code(), c.status);
    }
    // "core" is a plug-in id like any other; the core command's file has a
    // name that no id can have.
    EXPECT_EQ(run_child(launcher_plan("core", {"out", "x"})).out, "x");
    ChildPlan stop;
    stop.executable = VELMOT_DEVBRIDGE_PATH;
    stop.argv = {"velmot_devbridge", "--stop"};
    const ChildResult unset = run_child(stop);
    EXPECT_EQ(unset.err,
              "velmot_devbridge: VELMOT_DEVBRIDGE_PID is not set: this shell has no bridge "
              "started with --serve\n");
    EXPECT_EQ(unset.exit_code(), 1);
}

TEST_F(DevBridgeHostileTest, EverySignalThatWouldEndTheBridgeStopsItAsSigtermDoes) {
    for (const int signal : {SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN + 1}) {
        SCOPED_TRACE(signal);
        ServedBridge bridge(VELMOT_DEVBRIDGE_PATH, commands_, dir_.path() + "/log");
        const std::string fifo = dir_.path() + "/held" + std::to_string(signal);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        ChildProcess launcher(testing::launcher_plan(dir_, bridge, "velmot-probe", {"hold", fifo}));
        const UniqueFd held(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
        char line[8];
        ASSERT_EQ(::read(held.get(), line, sizeof line), 8);
        ::kill(bridge.pid(), signal);
        const ChildResult run = launcher.finish();
        EXPECT_NE(run.err.find("plugin.cli.bridge_bridge_stopping: "), std::string::npos)
            << run.err;
        EXPECT_EQ(run.exit_code(), 125);
        const int status = bridge.stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

TEST_F(DevBridgeHostileTest, ThePidVariableReachesNoCommandAndGuardsTheServingBridge) {
    // A bridge served with the variable of one that has gone does not hand
    // it on to its commands.
    ServedBridge second(VELMOT_DEVBRIDGE_PATH, commands_, dir_.path() + "/log2", {},
                        {"VELMOT_DEVBRIDGE_PID=1"});
    const ChildResult seen = run_child(
        testing::launcher_plan(dir_, second, "velmot-probe", {"env", "VELMOT_DEVBRIDGE_PID"}));
    EXPECT_EQ(seen.out, "");
    EXPECT_EQ(seen.exit_code(), 1);
    // While it names a bridge that serves, no second one starts.
    ChildPlan serve;
    serve.executable = VELMOT_DEVBRIDGE_PATH;
    serve.argv = {"velmot_devbridge", "--commands", commands_, "--serve"};
    serve.env = {"VELMOT_DEVBRIDGE_PID=" + std::to_string(bridge_.pid())};
    const ChildResult refused = run_child(serve);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("the bridge " + std::to_string(bridge_.pid()) +
                               " that VELMOT_DEVBRIDGE_PID names is still serving; stop it first "
                               "with: eval \"$(velmot_devbridge --stop)\""),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.exit_code(), 1);
}

}  // namespace
}  // namespace velmot::testing
