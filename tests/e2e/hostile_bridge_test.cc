// A bridge that misbehaves in every way a byte stream allows: it hangs up at
// any point of a reply, sends head lines or header sections beyond the
// launcher's bounds, a body line as long as a whole body, one byte at a time,
// more than Content-Length announces, or garbage, NUL bytes and invalid UTF-8
// at each stage. Every run must end, with intact output, the bridge's status
// or the transport-failure line and status 70, never a crash or a hang.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/limits.h"
#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

using namespace std::string_literals;

// Well within the guard, far beyond what any of these runs needs: a launcher
// that waits where it must not is killed and fails the test.
constexpr std::chrono::seconds kGuard{30};

ChildPlan core_invocation(const ScriptedBridge& bridge) {
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.guard = kGuard;
    return plan;
}

void expect_run(const ChildResult& run, const Expected& expected) {
    EXPECT_EQ(run.exit_code(), expected.status);
    EXPECT_TRUE(run.out == expected.out) << "stdout of " << run.out.size() << " bytes differs";
    EXPECT_TRUE(run.err == expected.err) << "stderr: " << run.err.substr(0, 200);
}

void expect_exchange(std::vector<BridgeStep> script, const Expected& expected) {
    ScriptedBridge bridge(std::move(script));
    expect_run(run_child(core_invocation(bridge)), expected);
}

std::string with_length(std::string_view head, std::string_view body) {
    return std::string(head) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           std::string(body);
}

// --- Hanging up at every byte ------------------------------------------------

// A small reply in the array form: "hi\n" on stdout, "oh\n" on stderr, then
// status 9.
constexpr std::string_view kOutLine = "[\"plugin_cli_output\",1,\"stdout\",\"aGkK\"]\n";
constexpr std::string_view kErrLine = "[\"plugin_cli_output\",1,\"stderr\",\"b2gK\"]\n";
constexpr std::string_view kEndLine = "[\"plugin_cli_terminal\",1,9]\n";

// What a run shows when the bridge hung up after the first `sent` bytes of
// `reply`, whose body starts at `body_start`: exactly the frames whose lines
// arrived whole, then the transport-failure line.
Expected after_hang_up(std::size_t sent, std::size_t body_start) {
    const std::size_t out_end = body_start + kOutLine.size();
    const std::size_t err_end = out_end + kErrLine.size();
    return transport_failure(sent >= out_end ? "hi\n" : "", sent >= err_end ? "oh\n" : "");
}

TEST(HangUp, AtEveryByteOfAReplyFailsWithWholeFramesReplayed) {
    const std::string body = std::string(kOutLine) + std::string(kErrLine) + std::string(kEndLine);
    const std::string reply = ok_response(body);
    const std::size_t body_start = reply.size() - body.size();
    // Runs go in small batches: each bridge serves one launcher, and all of a
    // batch run at once.
    constexpr std::size_t kBatch = 8;
    for (std::size_t first = 0; first < reply.size(); first += kBatch) {
        std::vector<std::unique_ptr<ScriptedBridge>> bridges;
        std::vector<std::unique_ptr<ChildProcess>> launchers;
        const std::size_t last = std::min(first + kBatch, reply.size());
        for (std::size_t sent = first; sent < last; ++sent) {
            bridges.push_back(std::make_unique<ScriptedBridge>(
                std::vector<BridgeStep>{send_bytes(reply.substr(0, sent)), close_connection()}));
            launchers.push_back(std::make_unique<ChildProcess>(core_invocation(*bridges.back())));
        }
        for (std::size_t sent = first; sent < last; ++sent) {
            SCOPED_TRACE("hung up after " + std::to_string(sent) + " bytes");
            expect_run(launchers[sent - first]->finish(), after_hang_up(sent, body_start));
        }
    }
    // The whole reply, for contrast.
    expect_exchange({send_bytes(reply), close_connection()}, success(9, "hi\n", "oh\n"));
}

// --- Bounds on the head ------------------------------------------------------

// The bridge holds the connection open after the offending bytes: the run
// must end on the bound, not wait for more.
TEST(HeadBounds, StatusLineBeyondTheBoundFailsWithoutWaiting) {
    const std::string line = "HTTP/1.1 200 " + std::string(kMaxHeadLineBytes, 'x');
    expect_exchange({send_bytes(line), keep_open()}, transport_failure());
}

TEST(HeadBounds, HeaderLineBeyondTheBoundFailsWithoutWaiting) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nX-Long: " + std::string(kMaxHeadLineBytes, 'a');
    expect_exchange({send_bytes(head), keep_open()}, transport_failure());
}

// A header line of exactly the bound, carriage return and line feed
// included, is still read.
TEST(HeadBounds, HeaderLineOfExactlyTheBoundIsRead) {
    const std::string prefix = "X-Long: ";
    const std::string line =
        prefix + std::string(kMaxHeadLineBytes - prefix.size() - 2, 'a') + "\r\n";
    ASSERT_EQ(line.size(), kMaxHeadLineBytes);
    const std::string body = stdout_frame("fine\n") + terminal_frame(6);
    expect_exchange({send_bytes(with_length("HTTP/1.1 200 OK\r\n" + line, body))},
                    success(6, "fine\n"));
    const std::string longer = prefix + "b" + line.substr(prefix.size());
    expect_exchange({send_bytes(with_length("HTTP/1.1 200 OK\r\n" + longer, body))},
                    transport_failure());
}

std::string header_lines(std::size_t count) {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i)
        lines += "X-Filler-" + std::to_string(i) + ": y\r\n";
    return lines;
}

TEST(HeadBounds, HeaderSectionOfTheMostLinesIsRead) {
    // Content-Length is one of the lines.
    const std::string body = terminal_frame(12);
    const std::string head = "HTTP/1.1 200 OK\r\n" + header_lines(kMaxHeaderLines - 1);
    expect_exchange({send_bytes(with_length(head, body))}, success(12));
}

TEST(HeadBounds, HeaderSectionBeyondTheMostLinesFailsWithoutWaiting) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n" + header_lines(kMaxHeaderLines);
    expect_exchange({send_bytes(head), keep_open()}, transport_failure());
}

// --- Body lines as long as a body ----------------------------------------------

// `frame_start` + a padding member + `frame_end` grown to `line_size` bytes,
// line feed included.
std::string padded_line(std::string_view frame_start, std::string_view frame_end,
                        std::size_t line_size) {
    const std::string open = ",\"padding\":\"";
    const std::size_t fixed = frame_start.size() + open.size() + 1 + frame_end.size() + 1;
    return std::string(frame_start) + open + std::string(line_size - fixed, 'p') + "\"" +
           std::string(frame_end) + "\n";
}

TEST(LongLines, TerminalFrameFillingTheLargestBodyIsAccepted) {
    const std::string line =
        padded_line("{\"kind\":\"plugin_cli_terminal\",\"protocol_version\":1,\"exit_code\":42",
                    "}", kMaxContentLength);
    ASSERT_EQ(line.size(), kMaxContentLength);
    expect_exchange({send_bytes(ok_response(line))}, success(42));
}

TEST(LongLines, OutputFrameNearlyFillingTheLargestBodyIsReplayed) {
    const std::string end = terminal_frame(0);
    const std::string line = padded_line(
        R"({"kind":"plugin_cli_output","protocol_version":1,"channel":"stdout","bytes_base64":")" +
            base64_encode("big\n") + "\"",
        "}", kMaxContentLength - end.size());
    expect_exchange({send_bytes(ok_response(line + end))}, success(0, "big\n"));
}

TEST(LongLines, GarbageFillingTheLargestBodyFails) {
    std::string line(kMaxContentLength - 1, 'g');
    line += '\n';
    expect_exchange({send_bytes(ok_response(line))}, transport_failure());
}

// --- Timing and extent ----------------------------------------------------------

TEST(SlowBridge, OneByteAtATimeReplaysEverythingIntact) {
    const std::string reply =
        ok_response(stdout_frame("one\ntwo") + stderr_frame("\xc3\xa9\n") + stdout_frame("\n") +
                    failure_frame("late", "m\xc3\xa9ssage", 0) + std::string(kEndLine));
    // Rejected after the failure frame: its line stays printed.
    std::vector<BridgeStep> script;
    for (const char c : reply)
        script.push_back(send_bytes(std::string(1, c)));
    expect_exchange(
        std::move(script),
        transport_failure("one\ntwo\n", "\xc3\xa9\nplugin.cli.bridge_late: m\xc3\xa9ssage\n"));

    const std::string good = ok_response(stdout_frame("a\xe2\x82\xac\n") + terminal_frame(3));
    std::vector<BridgeStep> dribble;
    for (const char c : good)
        dribble.push_back(send_bytes(std::string(1, c)));
    expect_exchange(std::move(dribble), success(3, "a\xe2\x82\xac\n"));
}

// Bytes past Content-Length are neither replayed nor waited for, whether they
// arrive with the body or after it; the bridge keeps the connection open.
TEST(PastContentLength, ExtraBytesAreIgnoredAndNotAwaited) {
    const std::string reply = ok_response(stdout_frame("kept\n") + terminal_frame(8));
    const std::string extra = stdout_frame("dropped\n") + "garbage \xff\x00 and more"s;
    expect_exchange({send_bytes(reply + extra), keep_open()}, success(8, "kept\n"));
    expect_exchange({send_bytes(reply), send_bytes(extra), keep_open()}, success(8, "kept\n"));
    expect_exchange({send_bytes(reply + std::string(200'000, '\0')), keep_open()},
                    success(8, "kept\n"));
}

// --- Garbage, NUL bytes and invalid UTF-8 -----------------------------------------

struct ByteCase {
    const char* name;
    std::string reply;
    Expected expected;
};

class StrayBytes : public ::testing::TestWithParam<ByteCase> {};

TEST_P(StrayBytes, AreTakenVerbatimOrFailTheRun) {
    expect_exchange({send_bytes(GetParam().reply)}, GetParam().expected);
}

const std::string kBody = stdout_frame("ok\n") + terminal_frame(5);

std::string with_status(std::string_view status_line) {
    return with_length(status_line, kBody);
}

std::string with_header(std::string_view header_line) {
    return with_length("HTTP/1.1 200 OK\r\n" + std::string(header_line), kBody);
}

// "ok\n" replayed, then `line`, then the terminal frame.
std::string with_body_line(std::string_view line) {
    return ok_response(stdout_frame("ok\n") + std::string(line) + terminal_frame(5));
}

INSTANTIATE_TEST_SUITE_P(
    StatusLineStage, StrayBytes,
    ::testing::Values(
        ByteCase{"NulInReasonPhrase", with_status("HTTP/1.1 200 O\0K\r\n"s), success(5, "ok\n")},
        ByteCase{"NulInVersion", with_status("HTTP/1.1\0 200 OK\r\n"s), transport_failure()},
        ByteCase{"NulInCode",
                 with_status("HTTP/1.1 2\x00"
                             "00 OK\r\n"s),
                 transport_failure()},
        ByteCase{"InvalidUtf8InReasonPhrase", with_status("HTTP/1.1 200 \xff\r\n"),
                 transport_failure()},
        ByteCase{"OverlongSlashInReasonPhrase", with_status("HTTP/1.1 200 \xc0\xaf\r\n"),
                 transport_failure()},
        ByteCase{"SurrogateInReasonPhrase", with_status("HTTP/1.1 200 \xed\xa0\x80\r\n"),
                 transport_failure()},
        ByteCase{"NonAsciiReasonPhrase", with_status("HTTP/1.1 200 \xe2\x9c\x93\r\n"),
                 success(5, "ok\n")},
        ByteCase{"TlsRecord", "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03"s, transport_failure()},
        ByteCase{"OnlyNulBytes", std::string(100, '\0'), transport_failure()},
        ByteCase{"BinaryThenLineFeed", "\x01\x02\x03\x7f\n"s + kBody, transport_failure()}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    HeaderStage, StrayBytes,
    ::testing::Values(
        ByteCase{"NulInIgnoredHeader", with_header("X-Note: a\0b\r\n"s), success(5, "ok\n")},
        ByteCase{"NulInIgnoredHeaderName", with_header("X-\0: b\r\n"s), success(5, "ok\n")},
        ByteCase{"InvalidUtf8InIgnoredHeader", with_header("X-Note: \xfe\r\n"),
                 transport_failure()},
        ByteCase{"TruncatedSequenceInIgnoredHeader", with_header("X-Note: \xe2\x82\r\n"),
                 transport_failure()},
        ByteCase{"NulInContentLength",
                 "HTTP/1.1 200 OK\r\nContent-Length: 1\0"
                 "2\r\n\r\n"s,
                 transport_failure()},
        ByteCase{"NulBeforeContentLengthName",
                 "HTTP/1.1 200 OK\r\n\0Content-Length: 50\r\n\r\n"s + kBody, transport_failure()},
        ByteCase{"LineWithoutColon", with_header("\x01\x02\x03\r\n"), transport_failure()},
        ByteCase{"BareLineFeedEndingTheHead", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\n"s,
                 transport_failure()}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    BodyStage, StrayBytes,
    ::testing::Values(
        ByteCase{"GarbageLine", with_body_line("\x01garbage\n"), transport_failure("ok\n")},
        ByteCase{"NulLine", with_body_line("\0\n"s), transport_failure("ok\n")},
        ByteCase{"NulBetweenTokens", with_body_line("[\"plugin_cli_terminal\",\0 1,0]\n"s),
                 transport_failure("ok\n")},
        ByteCase{"RawNulInString",
                 with_body_line("[\"plugin_cli_output\",1,\"stdout\",\"QQ==\0\"]\n"s),
                 transport_failure("ok\n")},
        ByteCase{"InvalidUtf8InMessage",
                 with_body_line("[\"plugin_cli_failure\",1,\"x\",\"\xff\",1]\n"),
                 transport_failure("ok\n")},
        ByteCase{"InvalidUtf8InIgnoredMember",
                 with_body_line("{\"kind\":\"plugin_cli_terminal\",\"protocol_version\":1,"
                                "\"exit_code\":0,\"x\":\"\xc3\"}\n"),
                 transport_failure("ok\n")},
        ByteCase{"InvalidUtf8AfterFrame",
                 with_body_line("[\"plugin_cli_output\",1,\"stdout\",\"QQ==\"]\xf8\n"),
                 transport_failure("ok\n")},
        ByteCase{"EscapedNulInMessageIsPrinted", ok_response(failure_frame("nul", "a\0b"s, 4)),
                 success(4, "", "plugin.cli.bridge_nul: a\0b\n"s)},
        ByteCase{"NulAndInvalidUtf8OutputIsReplayed",
                 ok_response(stdout_frame("\0\xff\xfe\n"s) + stderr_frame("\xc0\0"s) +
                             terminal_frame(0)),
                 success(0, "\0\xff\xfe\n"s, "\xc0\0"s)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmot::testing
