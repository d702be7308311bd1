// How the launcher reads the bridge's reply, end to end: the forms of the
// status line, the header section and its Content-Length, and where the body
// must end. Each case runs the built launcher against a scripted bridge and
// compares exit status, standard output and standard error byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

// Plays `script` to a core invocation without arguments. A launcher that
// waits where it must not is caught by the guard, which fails the test.
void expect_exchange(std::vector<BridgeStep> script, const Expected& expected) {
    ScriptedBridge bridge(std::move(script));
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.guard = std::chrono::seconds(20);
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), expected.status);
    EXPECT_EQ(run.out, expected.out);
    EXPECT_EQ(run.err, expected.err);
}

std::string with_length(std::string_view status_line, std::string_view body) {
    return std::string(status_line) + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + std::string(body);
}

// --- Status line -----------------------------------------------------------

struct StatusCase {
    const char* name;
    std::string line;  // with its line ending
    bool accepted;
};

class StatusLine : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusLine, IsAcceptedOrFailsTheRun) {
    const StatusCase& c = GetParam();
    const std::string body = stdout_frame("ran\n") + terminal_frame(0);
    expect_exchange({send_bytes(with_length(c.line, body))},
                    c.accepted ? success(0, "ran\n") : transport_failure());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, StatusLine,
    ::testing::Values(StatusCase{"ReasonOk", "HTTP/1.1 200 OK\r\n", true},
                      StatusCase{"NoReason", "HTTP/1.1 200\r\n", true},
                      StatusCase{"LeadingSpaces", "   HTTP/1.1 200 OK\r\n", true},
                      StatusCase{"TabsAndRuns", "HTTP/1.1\t \t200  \f OK then more\r\n", true},
                      StatusCase{"PlusSign", "HTTP/1.1 +200 OK\r\n", true},
                      StatusCase{"LeadingZeros", "HTTP/1.1 000200 OK\r\n", true},
                      StatusCase{"BareLineFeed", "HTTP/1.1 200 OK\n", true},
                      StatusCase{"Http10", "HTTP/1.0 200 OK\r\n", false},
                      StatusCase{"LowerCase", "http/1.1 200 OK\r\n", false},
                      StatusCase{"LettersInCode", "HTTP/1.1 2OO OK\r\n", false},
                      StatusCase{"VerticalTabIsNoSeparator", "HTTP/1.1 200\vOK\r\n", false},
                      StatusCase{"MinusSign", "HTTP/1.1 -200 OK\r\n", false},
                      StatusCase{"LonePlus", "HTTP/1.1 + OK\r\n", false},
                      StatusCase{"NoCode", "HTTP/1.1\r\n", false},
                      StatusCase{"Code204", "HTTP/1.1 204 No Content\r\n", false},
                      StatusCase{"Code500", "HTTP/1.1 500 Internal Server Error\r\n", false},
                      StatusCase{"Code65736", "HTTP/1.1 65736 OK\r\n", false},
                      StatusCase{"InvalidUtf8InReason", "HTTP/1.1 200 O\xffK\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// A status line that already fails is not followed by a wait for headers
// that never come.
TEST(StatusLine, FailsBeforeTheHeaderSection) {
    for (const char* line : {"HTTP/1.1 2OO OK\r\n", "HTTP/1.1 65536\r\n", "HTTP/1.0 200 OK\r\n"}) {
        SCOPED_TRACE(line);
        expect_exchange({send_bytes(line), keep_open()}, transport_failure());
    }
}

// --- Header section --------------------------------------------------------

struct HeaderCase {
    const char* name;
    std::string headers;  // every header line; "{N}" stands for the body's length
    bool accepted;
};

class HeaderSection : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderSection, IsAcceptedOrFailsTheRun) {
    const HeaderCase& c = GetParam();
    const std::string body = terminal_frame(0);
    std::string headers = c.headers;
    for (std::size_t at; (at = headers.find("{N}")) != std::string::npos;) {
        headers.replace(at, 3, std::to_string(body.size()));
    }
    expect_exchange({send_bytes("HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body)},
                    c.accepted ? success(0) : transport_failure());
}

INSTANTIATE_TEST_SUITE_P(
    ContentLength, HeaderSection,
    ::testing::Values(
        HeaderCase{"Plain", "Content-Length: {N}\r\n", true},
        HeaderCase{"LowerCase", "content-length:{N}\r\n", true},
        HeaderCase{"UpperCase", "CONTENT-LENGTH: +{N}\r\n", true},
        HeaderCase{"SpacesAndTabs", "Content-Length: \t {N} \t\r\n", true},
        HeaderCase{"UnicodeSpaces", "Content-Length:\xc2\xa0\xe3\x80\x80{N}\xe2\x80\xaf\r\n", true},
        HeaderCase{"LeadingZeros", "Content-Length: 0000000000000000000{N}\r\n", true},
        HeaderCase{"BareLineFeedEnding", "Content-Length: {N}\n", true},
        HeaderCase{"LastOneWins", "Content-Length: 5\r\nX-Other: 1\r\nContent-Length: {N}\r\n",
                   true},
        HeaderCase{"OthersIgnored",
                   "Transfer-Encoding: chunked\r\nX-Empty:\r\n: no name\r\n"
                   "Content-Length: {N}\r\n",
                   true},
        HeaderCase{"LastOneWinsShort", "Content-Length: {N}\r\nContent-Length: 3\r\n", false},
        HeaderCase{"EarlierOneInvalid", "Content-Length: x\r\nContent-Length: {N}\r\n", false},
        HeaderCase{"Missing", "X-Other: {N}\r\n", false},
        HeaderCase{"SpaceBeforeColon", "Content-Length : {N}\r\n", false},
        HeaderCase{"ChunkedOnly", "Transfer-Encoding: chunked\r\n", false},
        HeaderCase{"SpaceInside", "Content-Length: 6 6\r\nContent-Length: {N}\r\n", false},
        HeaderCase{"NoBreakSpaceInside",
                   "Content-Length: 6\xc2\xa0"
                   "6\r\n",
                   false},
        HeaderCase{"Negative", "Content-Length: -1\r\n", false},
        HeaderCase{"LonePlus", "Content-Length: +\r\n", false},
        HeaderCase{"Empty", "Content-Length: \r\n", false},
        HeaderCase{"Hexadecimal", "Content-Length: 0x10\r\n", false},
        HeaderCase{"SecondColon", "Content-Length: {N}:\r\n", false},
        HeaderCase{"OverLimit", "Content-Length: 12582913\r\n", false},
        HeaderCase{"Huge", "Content-Length: 99999999999999999999999999\r\n", false},
        HeaderCase{"LineWithoutColon", "Content-Length: {N}\r\nno colon\r\n", false},
        HeaderCase{"BareLineFeedLine", "Content-Length: {N}\r\n\n", false},
        HeaderCase{"SpacesLine", "Content-Length: {N}\r\n \r\n", false},
        HeaderCase{"InvalidUtf8InIgnoredHeader", "Content-Length: {N}\r\nX-Other: \xc3\x28\r\n",
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderSection, EndOfStreamInsideItFails) {
    expect_exchange({send_bytes("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n")}, transport_failure());
}

TEST(HeaderSection, NothingSentFails) {
    expect_exchange({}, transport_failure());
}

// The largest body, one line of 12,582,912 bytes: a terminal frame and the
// white space that ends its line.
TEST(HeaderSection, LargestContentLengthIsAccepted) {
    std::string line = terminal_frame(7);
    line.pop_back();
    line.append(12'582'912 - line.size() - 1, ' ');
    line += '\n';
    expect_exchange({send_bytes(ok_response(line))}, success(7));
}

// --- Body ------------------------------------------------------------------

struct BodyCase {
    const char* name;
    std::string body;
    long length_delta;  // Content-Length minus the body's size
    bool keep_open;     // the bridge holds the connection after the body
    Expected expected;
};

class Body : public ::testing::TestWithParam<BodyCase> {};

TEST_P(Body, EndsWhereItMust) {
    const BodyCase& c = GetParam();
    const long length = static_cast<long>(c.body.size()) + c.length_delta;
    std::vector<BridgeStep> script{send_bytes(
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" + c.body)};
    if (c.keep_open) script.push_back(keep_open());
    expect_exchange(std::move(script), c.expected);
}

const std::string kTerminal3 = terminal_frame(3);
const std::string kTerminalNoFeed = kTerminal3.substr(0, kTerminal3.size() - 1);
const std::string kHello = stdout_frame("hello\n");
const std::string kOops = stderr_frame("oops\n");

INSTANTIATE_TEST_SUITE_P(
    Rules, Body,
    ::testing::Values(
        BodyCase{"TerminalLast", kHello + kOops + kTerminal3, 0, false,
                 success(3, "hello\n", "oops\n")},
        BodyCase{"ConnectionKeptOpen", kHello + kTerminal3, 0, true, success(3, "hello\n")},
        BodyCase{"TerminalWithoutLineFeed", kTerminalNoFeed, 0, false, transport_failure()},
        BodyCase{"LineFeedAfterTerminal", kTerminal3 + "\n", 0, false, transport_failure()},
        BodyCase{"OutputAfterTerminal", kTerminal3 + kHello, 0, true, transport_failure()},
        BodyCase{"ExtraBytesBeyondLength", kHello + kTerminal3 + "garbage", -7, false,
                 success(3, "hello\n")},
        BodyCase{"LengthCutsTheTerminal", kHello + kTerminal3, -1, false,
                 transport_failure("hello\n")},
        BodyCase{"EarlyCloseAfterTerminal", kHello + kTerminal3, 1, false,
                 transport_failure("hello\n")},
        BodyCase{"EarlyCloseBeforeTerminal", kHello, 100, false, transport_failure("hello\n")},
        BodyCase{"EmptyBody", "", 0, true, transport_failure()},
        BodyCase{"NoTerminal", kHello, 0, true, transport_failure("hello\n")},
        BodyCase{"CarriageReturnLineFeed", kTerminalNoFeed + "\r\n", 0, false, success(3)},
        BodyCase{"TrailingUnicodeSpace", kTerminalNoFeed + " \t\xc2\xa0\xe3\x80\x80\r\n", 0, false,
                 success(3)},
        BodyCase{"LeadingSpace", " \t" + kTerminal3, 0, false, success(3)},
        BodyCase{"LeadingNoBreakSpace", "\xc2\xa0" + kTerminal3, 0, false, transport_failure()},
        BodyCase{"BlankLine", kHello + "\n" + kTerminal3, 0, false, transport_failure("hello\n")},
        BodyCase{"InvalidUtf8", kHello + kTerminalNoFeed + "\xed\xa0\x80\n", 0, false,
                 transport_failure("hello\n")},
        BodyCase{"FailureFrameLast", failure_frame("denied", "no way", 77), 0, false,
                 success(77, "", "plugin.cli.bridge_denied: no way\n")},
        BodyCase{"FailureFrameThenMore", failure_frame("denied", "no way", 77) + kTerminal3, 0,
                 false, transport_failure("", "plugin.cli.bridge_denied: no way\n")},
        BodyCase{"UnterminatedOutputAtExit", stdout_frame("no line feed") + kTerminal3, 0, false,
                 success(3, "no line feed")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Body, BridgeStatusesPassThrough) {
    for (const int status : {0, 70, 255}) {
        SCOPED_TRACE(status);
        expect_exchange({send_bytes(ok_response(terminal_frame(status)))}, success(status));
    }
}

}  // namespace
}  // namespace velmot::testing
