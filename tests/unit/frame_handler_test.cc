// Frame handling, observed from outside: each test hands a sequence of frames
// to `handle_frame` in a forked child whose standard output and standard error
// are pipes (or one shared pipe, or a pipe nobody reads), and checks the
// outcomes, the bytes that arrived and the child's exit status. A child keeps
// the process-wide output buffer and descriptors 1 and 2 of the test runner
// out of harm's way.

#include "bridge/frame_handler.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/std_streams.h"
#include "common/unique_fd.h"
#include "support/bridge_frames.h"

namespace velmot {

// Internal linkage: other test files may print outcomes their own way.
[[maybe_unused]] static void PrintTo(const FrameOutcome& outcome, std::ostream* os) {
    static constexpr const char* kNames[] = {"Continue", "Finished", "Fail"};
    *os << kNames[static_cast<int>(outcome.kind)];
    if (outcome.kind == FrameOutcome::Kind::Finished) *os << "(" << int{outcome.status} << ")";
}

namespace {

using namespace std::string_literals;

enum class Streams {
    Separate,          // stdout and stderr each a pipe of its own
    Shared,            // both on one pipe, as with `2>&1`
    StdoutReaderGone,  // stdout a pipe whose read end is closed
    StderrReaderGone,  // stderr a pipe whose read end is closed
    StdoutClosed,      // descriptor 1 not open
    StderrClosed,      // descriptor 2 not open
};

struct ChildRun {
    std::vector<FrameOutcome> outcomes;
    std::string out;  // everything, when the streams are shared
    std::string err;
    int exit_status = -1;
};

struct PipeFds {
    UniqueFd read_end;
    UniqueFd write_end;
};

PipeFds make_pipe() {
    int fds[2];
    if (::pipe(fds) != 0) ADD_FAILURE() << "pipe";
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

char encode_kind(FrameOutcome::Kind kind) {
    switch (kind) {
        case FrameOutcome::Kind::Continue:
            return 'C';
        case FrameOutcome::Kind::Finished:
            return 'F';
        case FrameOutcome::Kind::Fail:
            return 'X';
    }
    return '?';
}

FrameOutcome decode_outcome(char kind, char status) {
    if (kind == 'C') return FrameOutcome::continue_reading();
    if (kind == 'F') return FrameOutcome::finished(static_cast<ExitStatus>(status));
    return FrameOutcome::fail();
}

[[noreturn]] void child_main(std::vector<BridgeFrame>& frames, Streams streams, int out_fd,
                             int err_fd, int report_fd) {
    ::signal(SIGPIPE, SIG_IGN);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(streams == Streams::Shared ? out_fd : err_fd, STDERR_FILENO);
    if (streams == Streams::StdoutClosed) ::close(STDOUT_FILENO);
    if (streams == Streams::StderrClosed) ::close(STDERR_FILENO);
    for (BridgeFrame& frame : frames) {
        const FrameOutcome outcome = handle_frame(std::move(frame));
        const char report[2] = {encode_kind(outcome.kind), static_cast<char>(outcome.status)};
        if (::write(report_fd, report, 2) != 2) ::_exit(99);
    }
    (void)flush_stdout_at_exit();
    ::_exit(0);
}

// Reads every pipe to its end at once, so that a child writing more than a
// pipe holds never blocks.
void read_all(std::vector<std::pair<int, std::string*>> sources) {
    while (!sources.empty()) {
        std::vector<pollfd> fds;
        for (const auto& s : sources)
            fds.push_back({s.first, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        for (std::size_t i = fds.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            char block[65536];
            const ssize_t n = ::read(fds[i].fd, block, sizeof block);
            if (n > 0) {
                sources[i].second->append(block, static_cast<std::size_t>(n));
            } else if (n == 0) {
                sources.erase(sources.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

ChildRun run_frames(std::vector<BridgeFrame> frames, Streams streams = Streams::Separate) {
    PipeFds out = make_pipe(), err = make_pipe(), report = make_pipe();
    if (streams == Streams::StdoutReaderGone) out.read_end.reset();
    if (streams == Streams::StderrReaderGone) err.read_end.reset();
    const pid_t pid = ::fork();
    if (pid == 0) {
        child_main(frames, streams, out.write_end.get(), err.write_end.get(),
                   report.write_end.get());
    }
    out.write_end.reset();
    err.write_end.reset();
    report.write_end.reset();
    ChildRun run;
    std::string reports;
    std::vector<std::pair<int, std::string*>> sources = {{report.read_end.get(), &reports}};
    if (out.read_end.valid()) sources.push_back({out.read_end.get(), &run.out});
    if (err.read_end.valid()) sources.push_back({err.read_end.get(), &run.err});
    read_all(sources);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (std::size_t i = 0; i + 1 < reports.size(); i += 2) {
        run.outcomes.push_back(decode_outcome(reports[i], reports[i + 1]));
    }
    return run;
}

// Frames borrow their texts, as they do from a body line; here the texts
// live as long as the test program.
std::span<char> kept(std::string text) {
    static std::deque<std::string> texts;
    std::string& stored = texts.emplace_back(std::move(text));
    return {stored.data(), stored.size()};
}
std::string_view kept_view(std::string text) {
    const std::span<char> stored = kept(std::move(text));
    return {stored.data(), stored.size()};
}

BridgeFrame output(OutputChannel channel, std::string base64, std::uint8_t version = 1) {
    return Output{version, channel, kept(std::move(base64))};
}
BridgeFrame to_stdout(std::string base64) {
    return output(OutputChannel::Stdout, std::move(base64));
}
BridgeFrame to_stderr(std::string base64) {
    return output(OutputChannel::Stderr, std::move(base64));
}
BridgeFrame failure(std::string code, std::string message, std::uint8_t exit_code = 1,
                    std::uint8_t version = 1) {
    return Failure{version, kept_view(std::move(code)), kept_view(std::move(message)), exit_code};
}

std::string encode(std::string_view bytes) {
    return testing::base64_encode(bytes);
}

const FrameOutcome kContinue = FrameOutcome::continue_reading();
const FrameOutcome kFail = FrameOutcome::fail();

TEST(FrameHandlerVersion, OnlyVersionOneIsAcceptedAndNothingElseIsExamined) {
    for (const std::uint8_t version : {0, 2, 255}) {
        SCOPED_TRACE(static_cast<int>(version));
        const ChildRun run = run_frames({
            output(OutputChannel::Stdout, "aGkK", version),
            output(OutputChannel::Stderr, "aGkK", version),
            output(OutputChannel::Stderr, "not base64!", version),
            Terminal{version, 0},
            failure("denied", "no", 3, version),
            failure("Bad-Code", "no", 3, version),
        });
        EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>(6, kFail));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
    }
    const ChildRun run = run_frames({to_stderr("aGkK"), Terminal{1, 0}});
    EXPECT_EQ(run.outcomes, (std::vector<FrameOutcome>{kContinue, FrameOutcome::finished(0)}));
}

TEST(FrameHandlerTerminal, FinishesWithTheReportedStatusUnchanged) {
    const ChildRun run =
        run_frames({Terminal{1, 0}, Terminal{1, 3}, Terminal{1, 70}, Terminal{1, 255}});
    EXPECT_EQ(run.outcomes,
              (std::vector<FrameOutcome>{FrameOutcome::finished(0), FrameOutcome::finished(3),
                                         FrameOutcome::finished(70), FrameOutcome::finished(255)}));
    EXPECT_EQ(run.out + run.err, "");
}

TEST(FrameHandlerOutput, WritesOnlyCanonicalBase64Chunks) {
    const struct {
        std::string base64;
        std::string written;  // empty: refused
    } cases[] = {
        {"QQ==", "A"},
        {"AA==", "\0"s},
        {"+/+/", "\xFB\xFF\xBF"},
        {"aGVsbG8K", "hello\n"},
        {"", ""},
        {"QQ", ""},
        {"QR==", ""},
        {"QQ==\n", ""},
        {"QQ==QQ==", ""},
        {"-_-_", ""},
        {" QQ==", ""},
        {"QQ\xC3\xA9", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base64);
        const ChildRun run = run_frames({to_stderr(c.base64)});
        EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>{c.written.empty() ? kFail : kContinue});
        EXPECT_EQ(run.err, c.written);
        EXPECT_EQ(run.out, "");
    }
}

TEST(FrameHandlerOutput, ChunkHoldsOneTo65536DecodedBytes) {
    const struct {
        std::size_t bytes;
        bool written;
    } cases[] = {{0, false},     {1, true},       {65'535, true},
                 {65'536, true}, {65'537, false}, {65'538, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::string chunk(c.bytes, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>(i % 253);
        const ChildRun run = run_frames({to_stdout(encode(chunk)), to_stderr(encode(chunk))});
        EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>(2, c.written ? kContinue : kFail));
        EXPECT_TRUE(run.out == (c.written ? chunk : ""));
        EXPECT_TRUE(run.err == (c.written ? chunk : ""));
    }
}

TEST(FrameHandlerOutput, EachChannelReachesItsOwnStream) {
    const ChildRun run = run_frames(
        {to_stdout(encode("to out\n")), to_stderr(encode("to err\n")), to_stdout(encode("tail"))});
    EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>(3, kContinue));
    EXPECT_EQ(run.out, "to out\ntail");  // the tail arrives with the flush at exit
    EXPECT_EQ(run.err, "to err\n");
}

// With both streams on one pipe, only standard output up to a line feed keeps
// its place: a partial line waits in the buffer while error output passes.
TEST(FrameHandlerSharedPipe, ErrorOutputOvertakesAPartialOutputLine) {
    const struct {
        const char* rule;
        std::vector<std::string> frames;  // "o:" standard output, "e:" standard error
        std::string arrived;
    } cases[] = {
        {"held until a later line feed",
         {"o:out", "e:err line\n", "o: more\n"},
         "err line\nout more\n"},
        {"held until process end", {"o:tail", "e:err\n"}, "err\ntail"},
        {"error output without a line feed goes at once", {"e:abc", "o:def\n"}, "abcdef\n"},
        {"a complete output line keeps its place", {"o:line\n", "e:err\n"}, "line\nerr\n"},
        {"2,000 bytes without a line feed go at once",
         {"o:" + std::string(2000, 'a'), "e:e"},
         std::string(2000, 'a') + "e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        std::vector<BridgeFrame> frames;
        for (const std::string& f : c.frames) {
            frames.push_back(f[0] == 'o' ? to_stdout(encode(f.substr(2)))
                                         : to_stderr(encode(f.substr(2))));
        }
        const ChildRun run = run_frames(std::move(frames), Streams::Shared);
        EXPECT_EQ(run.out, c.arrived);
    }
}

TEST(FrameHandlerSharedPipe, FailureLineOvertakesAPartialOutputLine) {
    const ChildRun run =
        run_frames({to_stdout(encode("partial")), failure("denied", "no", 4)}, Streams::Shared);
    EXPECT_EQ(run.outcomes, (std::vector<FrameOutcome>{kContinue, FrameOutcome::finished(4)}));
    EXPECT_EQ(run.out, "plugin.cli.bridge_denied: no\npartial");
}

TEST(FrameHandlerFailure, PrintsCodeAndMessageVerbatim) {
    const struct {
        std::string code, message;
        std::uint8_t exit_code;
        std::string line;
    } cases[] = {
        {"denied", "permission denied", 77, "plugin.cli.bridge_denied: permission denied\n"},
        {"", "no code", 1, "plugin.cli.bridge_: no code\n"},
        {"empty_message", "", 2, "plugin.cli.bridge_empty_message: \n"},
        {"multi", "first\nsecond\n", 3, "plugin.cli.bridge_multi: first\nsecond\n\n"},
        {"a_z", "  spaced \"quoted\" \\ \xC3\xA9\0"s, 0,
         "plugin.cli.bridge_a_z:   spaced \"quoted\" \\ \xC3\xA9\0\n"s},
        {"_", "exit 255", 255, "plugin.cli.bridge__: exit 255\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const ChildRun run = run_frames({failure(c.code, c.message, c.exit_code)});
        EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>{FrameOutcome::finished(c.exit_code)});
        EXPECT_EQ(run.err, c.line);
        EXPECT_EQ(run.out, "");
    }
}

TEST(FrameHandlerFailure, RefusedCodesPrintNothing) {
    for (const std::string& code : {"Denied"s, "denied2"s, "de-nied"s, "de.nied"s, "de nied"s,
                                    "d\xC3\xA9nied"s, "denied\n"s, "\0"s}) {
        SCOPED_TRACE(code);
        const ChildRun run = run_frames({failure(code, "message")});
        EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>{kFail});
        EXPECT_EQ(run.err + run.out, "");
    }
}

TEST(FrameHandlerFailure, UnwritableFailureLineEndsTheProcessWith101AfterFlushingOutput) {
    const ChildRun run =
        run_frames({to_stdout(encode("held")), failure("denied", "no"), Terminal{1, 0}},
                   Streams::StderrReaderGone);
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.outcomes, std::vector<FrameOutcome>{kContinue});  // nothing after the line
    EXPECT_EQ(run.out, "held");
}

TEST(FrameHandlerFailure, ClosedStandardErrorCountsAsWritten) {
    const ChildRun run =
        run_frames({failure("denied", "no", 5), to_stderr(encode("gone"))}, Streams::StderrClosed);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.outcomes, (std::vector<FrameOutcome>{FrameOutcome::finished(5), kContinue}));
}

TEST(FrameHandlerWriteErrors, ClosedStandardOutputSwallowsChunks) {
    const ChildRun run = run_frames(
        {to_stdout(encode("line\n")), to_stdout(encode(std::string(3000, 'x'))), Terminal{1, 9}},
        Streams::StdoutClosed);
    EXPECT_EQ(run.outcomes,
              (std::vector<FrameOutcome>{kContinue, kContinue, FrameOutcome::finished(9)}));
}

TEST(FrameHandlerWriteErrors, BrokenPipeFailsTheFirstChunkThatMustReachIt) {
    const ChildRun out_gone = run_frames({to_stdout(encode("held")), to_stdout(encode("line\n"))},
                                         Streams::StdoutReaderGone);
    EXPECT_EQ(out_gone.outcomes, (std::vector<FrameOutcome>{kContinue, kFail}));
    EXPECT_EQ(out_gone.exit_status, 0);  // the failing write ends nothing by itself

    const ChildRun err_gone = run_frames({to_stderr(encode("x"))}, Streams::StderrReaderGone);
    EXPECT_EQ(err_gone.outcomes, std::vector<FrameOutcome>{kFail});
}

}  // namespace
}  // namespace velmot
