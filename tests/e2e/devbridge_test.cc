// The launcher and the development bridge together, running the example
// commands for real: whatever a command writes must come out of the launcher
// byte for byte, on the same stream, with the same status, as when the
// command is run directly.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "support/child_process.h"
#include "support/devbridge_session.h"
#include "support/temp_dir.h"

namespace velmot::testing {
namespace {

const std::string kBridge = VELMOT_DEVBRIDGE_PATH;
const std::string kCommands = VELMOT_DEVBRIDGE_EXAMPLES;
constexpr char kTransportFailure[] =
    "plugin.cli.bridge_transport_failure: Plugin CLI bridge is unavailable\n";

std::string path_variable() {
    const char* path = std::getenv("PATH");
    return std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
}

// The status a shell would report: the exit status, or 128 plus the signal.
int shell_status(int wait_status) {
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;
};

Outcome outcome_of(const ChildResult& result) {
    return {result.out, result.err, shell_status(result.wait_status)};
}

// An example command run directly, with the environment the bridge gives it.
// Standard input is /dev/null, as under the bridge.
Outcome run_directly(const std::string& command, const std::vector<std::string>& args) {
    ChildPlan plan;
    plan.executable = kCommands + "/" + command;
    plan.argv = {plan.executable};
    plan.argv.insert(plan.argv.end(), args.begin(), args.end());
    plan.env = {path_variable()};
    return outcome_of(run_child(plan));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DevBridgeTest : public ::testing::Test {
  protected:
    TempDir dir_;
    const std::string log_ = dir_.path() + "/bridge.log";
    ServedBridge bridge_{kBridge, kCommands, log_};

    ChildPlan launcher_plan(const std::string& name, const std::vector<std::string>& args) {
        return testing::launcher_plan(dir_, bridge_, name, args);
    }

    Outcome launch(const std::string& name, const std::vector<std::string>& args) {
        return outcome_of(run_child(launcher_plan(name, args)));
    }
};

void expect_same(const Outcome& launched, const Outcome& direct) {
    EXPECT_EQ(launched.out, direct.out);
    EXPECT_EQ(launched.err, direct.err);
    EXPECT_EQ(launched.status, direct.status);
}

TEST_F(DevBridgeTest, ReplaysEveryShapeOfOutputAsTheCommandWroteIt) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"both"}, 0},
        {{"binary"}, 0},
        {{"out", "no final line feed"}, 0},
        {{"err", "standard error only, no line feed"}, 0},
        {{"bytes", "1048576"}, 0},
        {{"bytes", "65537"}, 0},
        {{"args", "two words", "", "--flag", "\xC3\xA9\t\"\\", "\x1b[0m"}, 0},
        {{"exit", "0"}, 0},
        {{"exit", "3"}, 3},
        {{"exit", "255"}, 255},
        {{"kill", "TERM"}, 128 + SIGTERM},
        {{"kill", "KILL"}, 128 + SIGKILL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        const Outcome direct = run_directly("probe", c.args);
        ASSERT_EQ(direct.status, c.status);
        expect_same(launch("velmot-probe", c.args), direct);
    }
}

TEST_F(DevBridgeTest, CoreInvocationRunsTheCoreCommand) {
    const Outcome version = launch("velmot", {"version"});
    EXPECT_EQ(version.out, "velmot development bridge example core 1.0\n");
    EXPECT_EQ(version.status, 0);
    expect_same(launch("velmot", {"nosuch"}), run_directly("_core", {"nosuch"}));
}

TEST_F(DevBridgeTest, CommandsGetTheBridgeEnvironmentAndNoInput) {
    expect_same(launch("velmot-probe", {"env", "PATH"}), run_directly("probe", {"env", "PATH"}));
    const Outcome input = launch("velmot-probe", {"stdin"});
    EXPECT_EQ(input.out, "");
    EXPECT_EQ(input.status, 0);
}

TEST_F(DevBridgeTest, UnknownPluginIsABridgeFailureWithStatus127) {
    // The core command's file is "_core": "core" is a plug-in id like any.
    for (const std::string id : {"nosuch", "core"}) {
        const Outcome unknown = launch("velmot-" + id, {"list"});
        EXPECT_EQ(unknown.out, "");
        EXPECT_EQ(unknown.err, "plugin.cli.bridge_unknown_plugin: no plug-in with the id \"" + id +
                                   "\" in " + kCommands + "\n");
        EXPECT_EQ(unknown.status, 127);
    }
}

TEST_F(DevBridgeTest, OutputBeyondOneResponseEndsWithAFailureAndStopsTheCommand) {
    // The launcher refuses any body over its limit, so a clean failure line
    // also proves that the bridge kept the body within it.
    const Outcome large = launch("velmot-probe", {"bytes", "13000000"});
    EXPECT_EQ(large.err,
              "plugin.cli.bridge_output_too_large: the command's output does not fit into one "
              "response; it was stopped\n");
    EXPECT_EQ(large.status, 125);
    EXPECT_GT(large.out.size(), 9'000'000u);
    EXPECT_LT(large.out.size(), 9'437'184u);  // 3/4 of the body limit
    EXPECT_EQ(large.out, run_directly("probe", {"bytes", std::to_string(large.out.size())}).out);
}

TEST_F(DevBridgeTest, RefusesAMissingOrWrongTokenWith401) {
    const std::string body = R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[]})";
    const std::string wrong = bridge_.token().substr(1) + "0";
    const std::string requests[] = {
        invocation_post(bridge_.port(), body, ""),
        invocation_post(bridge_.port(), body, wrong),
        invocation_post(bridge_.port(), body, bridge_.token() + "0"),
        invocation_post(bridge_.port(), body, bridge_.token().substr(1)),
    };
    for (const std::string& request : requests) {
        EXPECT_EQ(http_exchange(bridge_.port(), request).substr(0, 13), "HTTP/1.1 401 ") << request;
    }
    const std::string answer =
        http_exchange(bridge_.port(), invocation_post(bridge_.port(), body, bridge_.token()));
    EXPECT_EQ(answer.substr(0, 13), "HTTP/1.1 200 ");

    ChildPlan plan = launcher_plan("velmot-notes", {"list"});
    plan.env[1] = "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=" + wrong;
    const Outcome refused = outcome_of(run_child(plan));
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, kTransportFailure);
    EXPECT_EQ(refused.status, 70);
}

TEST_F(DevBridgeTest, RefusesBodiesThatAreNoInvocationRequestWith400) {
    const std::string bodies[] = {
        "",
        "not json",
        "[]",
        R"({"protocol_version":2,"kind":"core_cli_invoke","argv":[]})",
        R"({"protocol_version":1.0,"kind":"core_cli_invoke","argv":[]})",
        R"({"protocol_version":"1","kind":"core_cli_invoke","argv":[]})",
        R"({"kind":"core_cli_invoke","argv":[]})",
        R"({"protocol_version":1,"kind":"shell","argv":[]})",
        R"({"protocol_version":1,"kind":"core_cli_invoke","plugin_id":"notes","argv":[]})",
        R"({"protocol_version":1,"kind":"plugin_cli_invoke","argv":[]})",
        R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"Notes","argv":[]})",
        R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"../probe","argv":[]})",
        R"({"protocol_version":1,"kind":"core_cli_invoke","argv":"version"})",
        R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[1]})",
        R"({"protocol_version":1,"kind":"core_cli_invoke","argv":["a\u0000b"]})",
        R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[],"extra":0})",
    };
    for (const std::string& body : bodies) {
        EXPECT_EQ(
            http_exchange(bridge_.port(), invocation_post(bridge_.port(), body, bridge_.token()))
                .substr(0, 13),
            "HTTP/1.1 400 ")
            << body;
    }
}

TEST_F(DevBridgeTest, ServesSeveralLaunchersAtOnce) {
    constexpr int kLaunchers = 12;
    std::vector<std::unique_ptr<ChildProcess>> running;
    for (int i = 0; i < kLaunchers; ++i) {
        const std::vector<std::string> args =
            i % 3 == 0 ? std::vector<std::string>{"both"}
                       : std::vector<std::string>{"bytes", std::to_string(100'000 * i + 7)};
        running.push_back(std::make_unique<ChildProcess>(launcher_plan("velmot-probe", args)));
    }
    for (int i = 0; i < kLaunchers; ++i) {
        SCOPED_TRACE(i);
        const Outcome launched = outcome_of(running[i]->finish());
        const Outcome direct =
            i % 3 == 0 ? run_directly("probe", {"both"})
                       : run_directly("probe", {"bytes", std::to_string(100'000 * i + 7)});
        expect_same(launched, direct);
    }
}

TEST_F(DevBridgeTest, LogsOneLinePerRequestWithoutTheTokenAndStopsCleanly) {
    EXPECT_EQ(launch("velmot-notes", {"list"}).status, 0);
    EXPECT_EQ(launch("velmot-nosuch", {}).status, 127);
    EXPECT_EQ(launch("velmot", {"version"}).status, 0);
    http_exchange(bridge_.port(), invocation_post(bridge_.port(), "{}", "wrong"));
    const int stopped = bridge_.stop();
    EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;

    const std::string log = read_file(log_);
    EXPECT_EQ(log.find(bridge_.token()), std::string::npos);
    const std::string expected[] = {
        "velmot_devbridge: notes status 200 exit 0 ",
        "velmot_devbridge: nosuch status 200 exit 127 ",
        "velmot_devbridge: _core status 200 exit 0 ",
        "velmot_devbridge: - status 401 ",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(log.find("\n" + line), std::string::npos) << line << " in:\n" << log;
    }
}

TEST_F(DevBridgeTest, StoppingEndsRunningCommandsAndStillAnswersTheirLaunchers) {
    const std::string fifo = dir_.path() + "/started";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess launcher(launcher_plan("velmot-probe", {"hold", fifo}));
    // Opening blocks until the command opens its end: then it is running.
    const UniqueFd started(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
    char line[16] = {};
    ASSERT_EQ(::read(started.get(), line, sizeof line), 8);
    EXPECT_STREQ(line, "holding\n");

    const int stopped = bridge_.stop();
    EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;
    const Outcome held = outcome_of(launcher.finish());
    EXPECT_EQ(held.err,
              "plugin.cli.bridge_bridge_stopping: the bridge is shutting down and ended the "
              "command (signal 15)\n");
    EXPECT_EQ(held.status, 125);
}

// The bridge's other mode: it runs one command with its variables set, as
// an agent would, and exits with that command's status.
class DevBridgeCommandModeTest : public ::testing::Test {
  protected:
    TempDir dir_;

    Outcome run_under_bridge(const std::vector<std::string>& command) {
        ChildPlan plan;
        plan.executable = kBridge;
        plan.argv = {"velmot_devbridge",   "--commands", kCommands, "--log",
                     dir_.path() + "/log", "--"};
        plan.argv.insert(plan.argv.end(), command.begin(), command.end());
        plan.env = {path_variable()};
        return outcome_of(run_child(plan));
    }
};

TEST_F(DevBridgeCommandModeTest, RunsTheLauncherAndExitsWithItsStatus) {
    const std::string probe = dir_.link("velmot-probe", VELMOT_LAUNCHER_PATH);
    const std::vector<std::string> cases[] = {{"both"}, {"exit", "7"}, {"kill", "TERM"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> command{probe};
        command.insert(command.end(), args.begin(), args.end());
        expect_same(run_under_bridge(command), run_directly("probe", args));
    }
}

TEST_F(DevBridgeCommandModeTest, LogsNothingToTheCommandsStandardErrorUnlessAsked) {
    ChildPlan plan;
    plan.executable = kBridge;
    plan.argv = {"velmot_devbridge",
                 "--commands",
                 kCommands,
                 "--",
                 dir_.link("velmot-probe", VELMOT_LAUNCHER_PATH),
                 "err",
                 "only this"};
    plan.env = {path_variable()};
    const Outcome quiet = outcome_of(run_child(plan));
    EXPECT_EQ(quiet.err, "only this");
    EXPECT_EQ(quiet.status, 0);
}

TEST_F(DevBridgeCommandModeTest, ReportsHowTheCommandItselfEnded) {
    const Outcome killed = run_under_bridge({"sh", "-c", "kill -s KILL $$"});
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    const Outcome seen = run_under_bridge(
        {"sh", "-c", "test -n \"$VELMOT_INTERNAL_PLUGIN_CLI_TOKEN\" && echo \"$0\"", "set"});
    EXPECT_EQ(seen.out, "set\n");
    EXPECT_EQ(run_under_bridge({dir_.path() + "/missing"}).status, 127);
}

}  // namespace
}  // namespace velmot::testing
