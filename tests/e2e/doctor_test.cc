// velmot_doctor end to end: for every kind of failure it replays exactly what
// the launcher replays and exits as the launcher does, then names the step,
// the place and the rule; its trace shows the exchange without the token; and
// without a command it checks the variables and the connection.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

using namespace std::string_literals;

constexpr char kDoctorPath[] = VELMOT_DOCTOR_PATH;

// Where the bridge is, for a case: a scripted bridge, or an endpoint of the
// case's own (which no bridge serves).
struct FailureCase {
    const char* name;
    std::vector<std::string> argv;  // the invocation name and its arguments
    std::string reply;              // what the bridge sends, then it closes
    std::string endpoint;           // overrides the bridge's, if not empty
    std::string token;              // overrides kTestToken, if not empty
    std::string where;              // the doctor's "failed at: " line, after that text
};

ChildPlan plan_for(const FailureCase& c, const ScriptedBridge& bridge) {
    return launcher_plan(c.endpoint.empty() ? bridge.endpoint() : c.endpoint, c.argv,
                         c.token.empty() ? kTestToken : std::string_view(c.token));
}

ChildResult run_launcher(const FailureCase& c) {
    ScriptedBridge bridge({send_bytes(c.reply)});
    return run_child(plan_for(c, bridge));
}

ChildResult run_doctor(const FailureCase& c, std::vector<std::string> options = {}) {
    ScriptedBridge bridge({send_bytes(c.reply)});
    ChildPlan plan = plan_for(c, bridge);
    plan.executable = kDoctorPath;
    options.insert(options.begin(), "velmot_doctor");
    plan.argv.insert(plan.argv.begin(), options.begin(), options.end());
    return run_child(plan);
}

std::string ok_with(std::string_view body) {
    return ok_response(body);
}

const std::string kLongArgument(4097, 'a');
const std::vector<std::string> kTooManyArguments(66, "x");

// One row per kind of failure, grouped by the step that finds it.
const FailureCase kFailures[] = {
    // Environment, endpoint and token.
    {"EndpointHost",
     {"velmot"},
     "",
     "http://localhost:80/x",
     "",
     "endpoint (VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT is \"http://localhost:80/x\")"},
    {"EndpointPort",
     {"velmot"},
     "",
     "http://127.0.0.1:0/x",
     "",
     "endpoint (VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT is \"http://127.0.0.1:0/x\")"},
    {"TokenLineBreak", {"velmot"}, "", "", "a\nb", "token"},
    // Invocation name and arguments.
    {"CapitalInPluginId",
     {"velmot-Notes", "list"},
     "",
     "",
     "",
     "invocation name (name \"velmot-Notes\", byte 0 of the plug-in id)"},
    {"SpaceInPluginId",
     {"velmot-my notes"},
     "",
     "",
     "",
     "invocation name (name \"velmot-my notes\", byte 2 of the plug-in id)"},
    {"UnknownName", {"notes"}, "", "", "", "invocation name (name \"notes\")"},
    {"ArgumentTooLong", {"velmot", "ok", kLongArgument}, "", "", "", "arguments (argument 2)"},
    // Connect.
    {"NothingListens",
     {"velmot"},
     "",
     "http://127.0.0.1:1/x",
     "",
     "connect (VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT is \"http://127.0.0.1:1/x\")"},
    // Status line and header section.
    {"ClosedWithoutReply", {"velmot"}, "", "", "", "status line"},
    {"WrongToken",
     {"velmot"},
     "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n",
     "",
     "",
     "status line (status 401)"},
    {"NotHttp11",
     {"velmot"},
     "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n",
     "",
     "",
     "status line"},
    {"HeaderWithoutColon",
     {"velmot"},
     "HTTP/1.1 200 OK\r\nServer x\r\nContent-Length: 0\r\n\r\n",
     "",
     "",
     "header section (header line 1)"},
    {"NoContentLength", {"velmot"}, "HTTP/1.1 200 OK\r\n\r\n", "", "", "header section"},
    // Body.
    {"BodyEndsEarly",
     {"velmot"},
     "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + stdout_frame("partial\n"),
     "",
     "",
     "body (body line 2)"},
    {"NoTerminalFrame", {"velmot"}, ok_with(stdout_frame("a\n")), "", "", "body"},
    {"LineAfterTerminal",
     {"velmot"},
     ok_with(terminal_frame(0) + stdout_frame("late\n")),
     "",
     "",
     "body (body line 2)"},
    // Frame lines.
    {"NotJson",
     {"velmot"},
     ok_with(stdout_frame("a\n") + "{\"kind\":}\n"),
     "",
     "",
     "frame line (body line 2, byte 8)"},
    {"ExitCodeOutOfRange",
     {"velmot"},
     ok_with(R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":256})"
             "\n"),
     "",
     "",
     "frame line (body line 1, byte 63, member \"exit_code\")"},
    {"MissingField",
     {"velmot"},
     ok_with(R"({"kind":"plugin_cli_terminal","protocol_version":1})"
             "\n"),
     "",
     "",
     "frame line (body line 1, member \"exit_code\")"},
    {"UnknownKind",
     {"velmot"},
     ok_with(R"({"kind":"plugin_cli_exit","exit_code":0})"
             "\n"),
     "",
     "",
     "frame line (body line 1, byte 8)"},
    // Frame handling.
    {"ProtocolVersion",
     {"velmot"},
     ok_with(R"({"kind":"plugin_cli_terminal","protocol_version":2,"exit_code":0})"
             "\n"),
     "",
     "",
     "frame handling (body line 1)"},
    {"BadBase64",
     {"velmot"},
     ok_with(
         R"({"kind":"plugin_cli_output","protocol_version":1,"channel":"stdout","bytes_base64":"QQ"})"
         "\n"),
     "",
     "",
     "frame handling (body line 1)"},
    {"FailureCode",
     {"velmot"},
     ok_with(failure_frame("Denied", "no", 3)),
     "",
     "",
     "frame handling (body line 1)"},
};

// The doctor replays exactly what the launcher replays, exits as it does,
// and adds its explanation after the launcher's standard error.
TEST(Doctor, AgreesWithTheLauncherAndNamesTheStepOfEveryFailure) {
    for (const FailureCase& c : kFailures) {
        SCOPED_TRACE(c.name);
        const ChildResult launcher = run_launcher(c);
        const ChildResult doctor = run_doctor(c);
        EXPECT_EQ(launcher.exit_code(), 70);
        EXPECT_EQ(doctor.exit_code(), launcher.exit_code());
        EXPECT_EQ(doctor.out, launcher.out);
        ASSERT_TRUE(doctor.err.starts_with(launcher.err)) << doctor.err;
        const std::string said = doctor.err.substr(launcher.err.size());
        EXPECT_TRUE(said.starts_with("velmot_doctor: failed at: " + c.where + "\n")) << said;
        EXPECT_NE(said.find("\nvelmot_doctor: rule: "), std::string::npos) << said;
        EXPECT_EQ(said.find(kTestToken), std::string::npos);
    }
}

// A run that succeeds is the launcher's run, and the doctor adds nothing.
TEST(Doctor, AddsNothingToARunThatSucceeds) {
    const FailureCase c{"Success",
                        {"velmot-notes", "list"},
                        ok_with(stdout_frame("one\n") + stderr_frame("two\n") + terminal_frame(3)),
                        "",
                        "",
                        ""};
    const ChildResult doctor = run_doctor(c);
    EXPECT_EQ(doctor.exit_code(), 3);
    EXPECT_EQ(doctor.out, "one\n");
    EXPECT_EQ(doctor.err, "two\n");
}

// The trace shows the request with the token replaced, the reply's head and
// a line per frame; the token's value appears nowhere, and text from the
// bridge is escaped.
TEST(Doctor, TraceShowsTheExchangeWithoutTheToken) {
    const FailureCase c{"Trace",
                        {"velmot-notes", "list"},
                        "HTTP/1.1 200 OK\r\nX-Note: \x1b[31mred\r\nContent-Length: " +
                            std::to_string(stdout_frame("hi\n").size() + terminal_frame(0).size()) +
                            "\r\n\r\n" + stdout_frame("hi\n") + terminal_frame(0),
                        "",
                        "",
                        ""};
    const ChildResult doctor = run_doctor(c, {"--trace"});
    EXPECT_EQ(doctor.exit_code(), 0);
    EXPECT_EQ(doctor.out, "hi\n");
    for (
        const std::string& line : {
            "velmot_doctor: > POST /bridge HTTP/1.1\n"s,
            "velmot_doctor: > X-Velmot-Plugin-Cli-Token: <redacted, 5 bytes>\n"s,
            "velmot_doctor: > {\"protocol_version\":1,\"kind\":\"plugin_cli_invoke\",\"plugin_id\":\"notes\",\"argv\":[\"list\"]}\n"s,
            "velmot_doctor: < HTTP/1.1 200 OK\n"s,
            "velmot_doctor: < X-Note: \\x1b[31mred\n"s,
            "velmot_doctor: frame: output, stdout, 3 bytes\n"s,
            "velmot_doctor: frame: terminal, exit code 0\n"s,
        }) {
        EXPECT_NE(doctor.err.find(line), std::string::npos) << line << "in\n" << doctor.err;
    }
    EXPECT_EQ(doctor.err.find(kTestToken), std::string::npos);
}

// Without a command: both variables and one connection, nothing sent.
TEST(Doctor, ChecksTheSetUpWithoutRunningACommand) {
    ScriptedBridge bridge({});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot_doctor"});
    plan.executable = kDoctorPath;
    const ChildResult well = run_child(plan);
    EXPECT_EQ(well.exit_code(), 0) << well.out;
    EXPECT_TRUE(well.out.ends_with("velmot_doctor: all well\n")) << well.out;
    EXPECT_EQ(bridge.request(), "");

    plan.env = {"VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=http://127.0.0.1:1/x"};
    const ChildResult unwell = run_child(plan);
    EXPECT_EQ(unwell.exit_code(), 1);
    EXPECT_NE(unwell.out.find("failed at: environment"), std::string::npos) << unwell.out;
    EXPECT_NE(unwell.out.find("failed at: connect"), std::string::npos) << unwell.out;
}

}  // namespace
}  // namespace velmot::testing
