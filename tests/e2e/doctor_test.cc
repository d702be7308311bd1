// velmot_doctor end to end: for every failure a test can bring about it
// replays exactly what the launcher replays and exits as the launcher does,
// then names the step, the place and the exact rule, and blames the bridge
// only for a bridge's reply; before a run it says what the shell finds under
// the name; its trace shows the exchange without the token; and without a
// command it says only what it saw.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/endpoint.h"
#include "common/failure_note.h"
#include "common/limits.h"
#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

using namespace std::string_literals;

constexpr char kDoctorPath[] = VELMOT_DOCTOR_PATH;
constexpr std::string_view kUnset = "<unset>";

struct Rule {
    FailureReason reason;
    std::string_view name;
    std::string_view text;
};

constexpr Rule kRules[] = {
#define VELMOT_RULE(name, step, rule, next) {FailureReason::name, #name, rule},
    VELMOT_FAILURE_REASONS(VELMOT_RULE)
#undef VELMOT_RULE
};

const Rule& rule_of(FailureReason reason) {
    return kRules[static_cast<std::size_t>(reason) - 1];
}

// One failure: the invocation and the bridge's reply that bring it about,
// and the doctor's "failed at: " line after that text. The variables are the
// bridge's unless a row gives its own (kUnset leaves one out).
struct FailureCase {
    FailureReason reason;
    std::vector<std::string> argv;  // the invocation name and its arguments
    std::string reply;              // what the bridge sends, then it closes
    std::string where;
    std::optional<std::string> endpoint = std::nullopt;
    std::optional<std::string> token = std::nullopt;
    bool stdout_full = false;  // standard output on /dev/full
    // Evidence that another program answered, where the doctor should see it.
    std::string foreign = "";
};

ChildPlan plan_for(const FailureCase& c, const ScriptedBridge& bridge) {
    ChildPlan plan = launcher_plan(c.endpoint.value_or(bridge.endpoint()), c.argv,
                                   c.token.value_or(std::string(kTestToken)));
    std::erase_if(plan.env, [](const std::string& entry) {
        return entry.ends_with(kUnset) && entry[entry.size() - kUnset.size() - 1] == '=';
    });
    return plan;
}

ChildResult run_as(const FailureCase& c, std::string executable,
                   std::vector<std::string> options = {}) {
    ScriptedBridge bridge({send_bytes(c.reply)});
    ChildPlan plan = plan_for(c, bridge);
    const int full = c.stdout_full ? ::open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
    if (full >= 0) plan.out = StreamSetup::descriptor(full);
    if (executable == kDoctorPath) {
        plan.executable = executable;
        options.insert(options.begin(), "velmot_doctor");
        plan.argv.insert(plan.argv.begin(), options.begin(), options.end());
    }
    ChildResult result = run_child(plan);
    if (full >= 0) ::close(full);
    return result;
}

std::string ok_with(std::string_view body) {
    return ok_response(body);
}

std::string head_with(std::string_view lines) {
    return "HTTP/1.1 200 OK\r\n" + std::string(lines) + "\r\n";
}

// A 200 reply whose body is `frames`, one per line.
std::string body_of(std::initializer_list<std::string_view> frames) {
    std::string body;
    for (const std::string_view frame : frames)
        body.append(frame).push_back('\n');
    return ok_response(body);
}

// Row builders: `velmot` against the bridge's `reply`; an endpoint or token
// variable of the row's own; an invocation of the row's own.
FailureCase replied(FailureReason reason, std::string reply, std::string where,
                    std::string foreign = "") {
    return {reason, {"velmot"}, std::move(reply), std::move(where), {}, {}, false, foreign};
}
FailureCase with_endpoint(FailureReason reason, std::string endpoint, std::string where = "") {
    if (where.empty())
        where = "endpoint (" + std::string(kEndpointVariable) + " is \"" + endpoint + "\")";
    return {reason, {"velmot"}, "", std::move(where), std::move(endpoint)};
}
FailureCase with_token(FailureReason reason, std::string token, std::string where) {
    return {reason, {"velmot"}, "", std::move(where), {}, std::move(token)};
}
FailureCase invoked(FailureReason reason, std::vector<std::string> argv, std::string where) {
    return {reason, std::move(argv), "", std::move(where)};
}

const std::string kTerminal = R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":0)";
const std::string kA = stdout_frame("a\n");
const std::string kLongId(kMaxPluginIdBytes + 1, 'a');

std::vector<std::string> too_many_arguments() {
    std::vector<std::string> argv(kMaxArguments + 2, "x");
    argv.front() = "velmot";
    return argv;
}

std::string too_many_headers() {
    std::string lines;
    for (std::size_t i = 0; i <= kMaxHeaderLines; ++i)
        lines += "X: y\r\n";
    return head_with(lines);
}

using R = FailureReason;

// One row for every rule a test can break, grouped by the step that finds it.
const std::vector<FailureCase> kFailures = {
    // Environment, endpoint and token.
    with_endpoint(R::EndpointUnset, std::string(kUnset), "environment"),
    with_endpoint(R::EndpointNotUtf8, "http://127.0.0.1:1/\xff", "environment"),
    with_token(R::TokenUnset, std::string(kUnset), "environment"),
    with_token(R::TokenNotUtf8, "\xc3", "environment"),
    with_endpoint(R::EndpointScheme, "https://127.0.0.1:1/x"),
    with_endpoint(R::EndpointNoPath, "http://127.0.0.1:1"),
    with_endpoint(R::EndpointHost, "http://localhost:80/x"),
    with_endpoint(R::EndpointPort, "http://127.0.0.1:0/x"),
    with_endpoint(R::EndpointEmptyPath, "http://127.0.0.1:1/"),
    with_endpoint(
        R::EndpointLineBreak, "http://127.0.0.1:1/a\rb",
        "endpoint (" + std::string(kEndpointVariable) + " is \"http://127.0.0.1:1/a\\rb\")"),
    with_token(R::TokenEmpty, "", "token"),
    with_token(R::TokenLineBreak, "a\nb", "token"),
    // Invocation name and arguments.
    invoked(R::NameNoFile, {"bin/.."}, "invocation name (name \"bin/..\")"),
    invoked(R::NameNotUtf8, {"velmot-\xff"}, "invocation name (name \"velmot-\\xff\")"),
    invoked(R::NameUnknown, {"notes"}, "invocation name (name \"notes\")"),
    invoked(R::NameIsLauncher, {"velmot-plugin-cli-client"},
            "invocation name (name \"velmot-plugin-cli-client\")"),
    invoked(R::PluginIdLength, {"velmot-" + kLongId},
            "invocation name (name \"velmot-" + kLongId + "\")"),
    invoked(R::PluginIdStart, {"velmot-Notes", "list"},
            "invocation name (name \"velmot-Notes\", byte 0 of the plug-in id)"),
    invoked(R::PluginIdByte, {"velmot-my notes"},
            "invocation name (name \"velmot-my notes\", byte 2 of the plug-in id)"),
    invoked(R::TooManyArguments, too_many_arguments(),
            "arguments (" + std::to_string(kMaxArguments + 1) + " given)"),
    invoked(R::ArgumentNotUtf8, {"velmot", "ok", "\xff"}, "arguments (argument 2)"),
    invoked(R::ArgumentTooLong, {"velmot", "ok", std::string(kMaxArgumentCharacters + 1, 'a')},
            "arguments (argument 2)"),
    // Connect.
    with_endpoint(R::ConnectRefused, "http://127.0.0.1:1/x",
                  "connect (" + std::string(kEndpointVariable) + " is \"http://127.0.0.1:1/x\")"),
    // Status line and header section; a reply that is no bridge's is named.
    replied(R::ClosedBeforeReply, "", "status line"),
    replied(R::NotUtf8, "HTTP/1.1 200 \xff\r\n\r\n", "status line", "the status line is not text"),
    replied(R::StatusLineTooLong, "HTTP/1.1 200 " + std::string(kMaxHeadLineBytes, 'a'),
            "status line"),
    replied(R::NotHttp11, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", "status line",
            "status line \"HTTP/1.0 200 OK\""),
    replied(R::StatusCodeInvalid, "HTTP/1.1 2OO OK\r\n\r\n", "status line"),
    replied(R::StatusUnauthorized, "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n",
            "status line (status 401)"),
    replied(R::StatusNotFound, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
            "status line (status 404)"),
    replied(R::StatusNotFound,
            "HTTP/1.1 404 Not Found\r\nServer: nginx\r\nContent-Type: text/html\r\n"
            "Content-Length: 0\r\n\r\n",
            "status line (status 404)", "Server \"nginx\", Content-Type \"text/html\""),
    replied(R::StatusNot200,
            "HTTP/1.1 500 Oops\r\nServer: velmot-host\r\nContent-Length: 0\r\n\r\n",
            "status line (status 500)"),
    replied(R::ClosedInHeaders, "HTTP/1.1 200 OK\r\nServer: x\r\n",
            "header section (header line 2)"),
    replied(R::HeaderLineTooLong, "HTTP/1.1 200 OK\r\nX: " + std::string(kMaxHeadLineBytes, 'a'),
            "header section (header line 1)"),
    replied(R::TooManyHeaders, too_many_headers(),
            "header section (header line " + std::to_string(kMaxHeaderLines + 1) + ")"),
    replied(R::HeaderNoColon, head_with("Server x\r\nContent-Length: 0\r\n"),
            "header section (header line 1)"),
    replied(R::ContentLengthInvalid,
            head_with("Content-Length: " + std::to_string(kMaxContentLength + 1) + "\r\n"),
            "header section (header line 1)"),
    replied(R::ContentLengthMissing, head_with(""), "header section"),
    // Body.
    replied(R::BodyEndedEarly, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + kA,
            "body (body line 2)"),
    replied(R::BodyLineUnterminated, ok_with(kA + "[]"), "body (body line 2)"),
    replied(R::NoTerminalFrame, ok_with(kA), "body"),
    replied(R::LineAfterTerminal, ok_with(terminal_frame(0) + kA), "body (body line 2)"),
    replied(R::NotUtf8, ok_with(kA + "[\"\xff\"]\n"), "body (body line 2)"),
    // Frame lines: the byte is where the decoder stood.
    replied(R::FrameNotJson, ok_with(kA + "{\"a\":}\n"), "frame line (body line 2, byte 5)"),
    replied(R::FrameNotContainer, ok_with(kA + "\"x\"\n"), "frame line (body line 2, byte 0)"),
    replied(R::FrameNotContainer, ok_with("<html>\n"), "frame line (body line 1, byte 0)",
            "body line 1 is not a frame"),
    replied(R::FrameTooDeep,
            body_of({kTerminal + ",\"d\":" + std::string(kMaxFrameNesting, '[') +
                     std::string(kMaxFrameNesting, ']') + "}"}),
            "frame line (body line 1, byte " +
                std::to_string(kTerminal.size() + 5 + kMaxFrameNesting - 1) + ")"),
    replied(R::FrameTrailingBytes, body_of({R"(["plugin_cli_terminal",1,0] x)"}),
            "frame line (body line 1, byte 28)"),
    replied(R::FrameKindMissing, ok_with(kA + "{\"a\":1}\n"), "frame line (body line 2, byte 7)"),
    replied(R::FrameKindTwice, body_of({kTerminal + ",\"kind\":1}"}),
            "frame line (body line 1, byte " + std::to_string(kTerminal.size() + 1) + ")"),
    replied(R::FrameKindUnknown, body_of({R"({"kind":"plugin_cli_exit","exit_code":0})"}),
            "frame line (body line 1, byte 8)"),
    replied(R::FrameArrayLength, body_of({R"(["plugin_cli_terminal",1])"}),
            "frame line (body line 1, byte 24)"),
    replied(R::FrameFieldMissing,
            body_of({R"({"kind":"plugin_cli_terminal","protocol_version":1})"}),
            "frame line (body line 1, member \"exit_code\")"),
    replied(R::FrameFieldTwice, body_of({kTerminal + ",\"exit_code\":1}"}),
            "frame line (body line 1, byte " + std::to_string(kTerminal.size() + 13) +
                ", member \"exit_code\")"),
    replied(R::FrameFieldNotByte,
            body_of({R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":256})"}),
            "frame line (body line 1, byte 63, member \"exit_code\")"),
    replied(R::FrameFieldNotString, body_of({R"(["plugin_cli_failure",1,5,"m",1])"}),
            "frame line (body line 1, byte 24, member \"code\")"),
    replied(R::FrameFieldNotChannel, body_of({R"(["plugin_cli_output",1,"stdin","QQ=="])"}),
            "frame line (body line 1, byte 23, member \"channel\")"),
    // Frame handling.
    replied(R::ProtocolVersion,
            body_of({R"({"kind":"plugin_cli_terminal","protocol_version":2,"exit_code":0})"}),
            "frame handling (body line 1)"),
    replied(R::ChunkNotBase64, body_of({R"(["plugin_cli_output",1,"stdout","QQ"])"}),
            "frame handling (body line 1)"),
    replied(R::ChunkSize, body_of({R"(["plugin_cli_output",1,"stdout",""])"}),
            "frame handling (body line 1)"),
    replied(R::FailureCodeInvalid, ok_with(failure_frame("Denied", "no", 3)),
            "frame handling (body line 1)"),
    // Output, with standard output on /dev/full.
    {R::StdoutWriteFailed,
     {"velmot"},
     ok_with(kA + terminal_frame(0)),
     "output (body line 1)",
     {},
     {},
     true},
    {R::StdoutLostAtExit,
     {"velmot"},
     ok_with(stdout_frame("a") + terminal_frame(0)),
     "output",
     {},
     {},
     true},
};

// Rules no row breaks, and why no test can break them here.
const std::set<FailureReason> kOutOfReach = {
    FailureReason::NameMissing,        // the kernel gives every program an argv[0]
    FailureReason::ConnectTimedOut,    // the loopback interface answers at once
    FailureReason::ConnectFailed,      // only without sockets or a loopback interface
    FailureReason::SendFailed,         // the request fits the socket's buffer
    FailureReason::SendTimedOut,       // likewise
    FailureReason::ReceiveTimedOut,    // 300 seconds
    FailureReason::ReceiveFailed,      // the scripted bridge closes, never resets
    FailureReason::StderrWriteFailed,  // the doctor's own lines share standard error
};

// The doctor's explanation: `err` after what the launcher wrote, which the
// doctor's lines about the name come before.
std::string explanation(const ChildResult& doctor, const ChildResult& launcher) {
    const std::size_t at = doctor.err.find(launcher.err);
    if (at == std::string::npos) return "<launcher's standard error missing>";
    return doctor.err.substr(at + launcher.err.size());
}

// The doctor replays exactly what the launcher replays and exits as it does,
// then names the step, the place and the rule; it blames the bridge only for
// a bridge's reply. Every rule but those out of reach has a row.
TEST(Doctor, AgreesWithTheLauncherAndNamesTheRuleOfEveryFailure) {
    std::set<FailureReason> broken;
    for (const FailureCase& c : kFailures) {
        SCOPED_TRACE(rule_of(c.reason).name);
        broken.insert(c.reason);
        const ChildResult launcher = run_as(c, VELMOT_LAUNCHER_PATH);
        const ChildResult doctor = run_as(c, kDoctorPath);
        EXPECT_EQ(launcher.exit_code(), 70);
        EXPECT_EQ(doctor.exit_code(), launcher.exit_code());
        EXPECT_EQ(doctor.out, launcher.out);
        const std::string said = explanation(doctor, launcher);
        const std::string expected =
            "velmot_doctor: failed at: " + c.where +
            "\nvelmot_doctor: rule: " + std::string(rule_of(c.reason).text) + "\n";
        EXPECT_TRUE(said.starts_with(expected)) << said;
        const std::string seen =
            "velmot_doctor: seen: the port answers, but probably not as a bridge: " + c.foreign +
            "\n";
        EXPECT_EQ(said.find(seen) != std::string::npos, !c.foreign.empty()) << said;
        EXPECT_EQ(doctor.err.find(kTestToken), std::string::npos);
    }
    for (const Rule& rule : kRules) {
        EXPECT_NE(broken.contains(rule.reason), kOutOfReach.contains(rule.reason)) << rule.name;
    }
}

// A run that succeeds is the launcher's run; the doctor adds only what the
// shell finds under the name, before it.
TEST(Doctor, AddsNothingButTheNameToARunThatSucceeds) {
    const FailureCase c{FailureReason::None,
                        {"velmot-notes", "list"},
                        ok_with(stdout_frame("one\n") + stderr_frame("two\n") + terminal_frame(3)),
                        ""};
    const ChildResult doctor = run_as(c, kDoctorPath);
    EXPECT_EQ(doctor.exit_code(), 3);
    EXPECT_EQ(doctor.out, "one\n");
    EXPECT_TRUE(doctor.err.starts_with("velmot_doctor: \"velmot-notes\": not on PATH"))
        << doctor.err;
    EXPECT_TRUE(doctor.err.ends_with("\ntwo\n")) << doctor.err;
}

// Where the shell finds the name, as the shell looks: the first executable
// file on PATH, links followed. Each row is a folder on PATH holding one
// entry under the name (or none), and the line the doctor starts with.
TEST(Doctor, SaysWhatTheShellFindsUnderTheName) {
    namespace fs = std::filesystem;
    const std::string launcher = fs::canonical(VELMOT_LAUNCHER_PATH).native();
    struct NameCase {
        const char* entry;  // the link's target, or nullptr for no entry
        std::string said;   // after "velmot_doctor: \"velmot-notes\": "
        std::string fix;    // the fix line, after "velmot_doctor: fix: "; "" for none
    };
    const NameCase cases[] = {
        {VELMOT_LAUNCHER_PATH,
         "the shell runs \"DIR/velmot-notes\", a link to \"" + std::string(VELMOT_LAUNCHER_PATH) +
             "\", this launcher",
         ""},
        {nullptr, "not on PATH, so the shell answers \"command not found\"",
         "ln -s " + launcher + " ~/.local/bin/velmot-notes"},
        {"/nonexistent/velmot",
         "not on PATH, so the shell answers \"command not found\": \"DIR/velmot-notes\", a link to "
         "\"/nonexistent/velmot\", which does not exist",
         "ln -sf " + launcher + " DIR/velmot-notes"},
        {"/bin/true",
         "the shell runs \"DIR/velmot-notes\", a link to \"/bin/true\", which is another program, "
         "not this launcher (\"" +
             launcher + "\")",
         "ln -sf " + launcher + " DIR/velmot-notes"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.said);
        char folder[] = "/tmp/velmot-doctor-path-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        const std::string dir = folder;
        if (c.entry != nullptr) fs::create_symlink(c.entry, dir + "/velmot-notes");
        auto in_dir = [&dir](std::string text) {
            for (std::size_t at = text.find("DIR"); at != std::string::npos; at = text.find("DIR"))
                text.replace(at, 3, dir);
            return text;
        };
        ScriptedBridge bridge({send_bytes(ok_with(terminal_frame(0)))});
        ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot_doctor", "velmot-notes"});
        plan.executable = kDoctorPath;
        plan.env.push_back("PATH=/nonexistent:" + dir);
        const ChildResult doctor = run_child(plan);
        EXPECT_EQ(doctor.exit_code(), 0);
        const std::string expected = "velmot_doctor: \"velmot-notes\": " + in_dir(c.said) + "\n" +
                                     (c.fix.empty() ? "" : "velmot_doctor: fix: " + in_dir(c.fix));
        EXPECT_TRUE(doctor.err.starts_with(expected)) << doctor.err;
        fs::remove_all(dir);
    }
}

// The trace shows the request with the token replaced, the reply's head and
// a line per frame; the token's value appears nowhere, and text from the
// bridge is escaped.
TEST(Doctor, TraceShowsTheExchangeWithoutTheToken) {
    const FailureCase c{FailureReason::None,
                        {"velmot-notes", "list"},
                        "HTTP/1.1 200 OK\r\nX-Note: \x1b[31mred\r\nContent-Length: " +
                            std::to_string(stdout_frame("hi\n").size() + terminal_frame(0).size()) +
                            "\r\n\r\n" + stdout_frame("hi\n") + terminal_frame(0),
                        ""};
    const ChildResult doctor = run_as(c, kDoctorPath, {"--trace"});
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

// Without a command: both variables, a connection, and one request that
// names no command; the token counts as checked only when the bridge refuses
// it, and the last line never claims more than was seen.
TEST(Doctor, ChecksTheSetUpSayingOnlyWhatItSaw) {
    struct CheckCase {
        std::string reply;
        std::vector<std::string> env;  // replaces the bridge's variables if not empty
        std::vector<std::string> lines;
        int status;
    };
    const std::string kNotChecked =
        "velmot_doctor: no problem found in what was checked; the token was not checked (see "
        "above)\n";
    const CheckCase cases[] = {
        {"HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\nbad\n",
         {},
         {"velmot_doctor: token: not checked: the bridge answered status 400 to a request that "
          "names no command",
          "velmot_doctor: token: to check it, run a command that changes nothing under the doctor",
          kNotChecked},
         0},
        {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n",
         {},
         {"velmot_doctor: token: refused: the bridge answered status 401",
          "velmot_doctor: next: check that VELMOT_INTERNAL_PLUGIN_CLI_TOKEN matches",
          "velmot_doctor: problems found\n"},
         1},
        {"HTTP/1.0 404 File not found\r\nServer: SimpleHTTP/0.6 Python/3.11.2\r\n"
         "Content-Type: text/html;charset=utf-8\r\n\r\n<html>",
         {},
         {"velmot_doctor: seen: the port answers, but probably not as a bridge: status line "
          "\"HTTP/1.0 404 File not found\", Server \"SimpleHTTP/0.6 Python/3.11.2\", "
          "Content-Type \"text/html;charset=utf-8\"\n",
          "velmot_doctor: next: the variables may be left over from a bridge that stopped",
          "velmot_devbridge --commands DIR --serve", "velmot_doctor: problems found\n"},
         1},
        {"",
         {},
         {"but probably not as a bridge: it closed the connection without an answer",
          "velmot_doctor: problems found\n"},
         1},
        {"",
         {"VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=http://127.0.0.1:1/x"},
         {"failed at: environment", "failed at: connect", "velmot_doctor: problems found\n"},
         1},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedBridge bridge({send_bytes(c.reply)});
        ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot_doctor"});
        plan.executable = kDoctorPath;
        if (!c.env.empty()) plan.env = c.env;
        const ChildResult doctor = run_child(plan);
        EXPECT_EQ(doctor.exit_code(), c.status) << doctor.out;
        for (const std::string& expected : c.lines)
            EXPECT_NE(doctor.out.find(expected), std::string::npos) << expected << "\nin\n"
                                                                    << doctor.out;
        EXPECT_TRUE(doctor.out.ends_with(c.lines.back())) << doctor.out;
        // The request names no command, so that no bridge can run one.
        if (c.env.empty()) {
            EXPECT_TRUE(bridge.request().value_or("").ends_with(
                "Content-Length: 0\r\nConnection: close\r\n\r\n"));
        }
    }
}

}  // namespace
}  // namespace velmot::testing
