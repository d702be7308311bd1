#include "doctor/trace.h"

#include <string>
#include <string_view>

#include "bridge/exchange_trace.h"
#include "common/std_streams.h"
#include "doctor/explanation.h"
#include "doctor/quote.h"

namespace velmot::doctor {
namespace {

// The doctor runs one exchange at a time, on one thread.
ReplyHead g_reply_head;

constexpr std::string_view kHeadEnd = "\r\n\r\n";

void say(std::string_view mark, std::string_view text) {
    (void)write_stderr(doctor_line({mark, text}));
}

// The request as sent, with the token piece replaced.
std::string request_text(const struct iovec* pieces, std::size_t count, std::string_view token) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view piece(static_cast<const char*>(pieces[i].iov_base),
                                     pieces[i].iov_len);
        if (piece.data() == token.data() && piece.size() == token.size()) {
            text += "<redacted, " + std::to_string(token.size()) + " bytes>";
        } else {
            text += piece;
        }
    }
    return text;
}

void trace_request_lines(const struct iovec* pieces, std::size_t count, std::string_view token) {
    const std::string text = request_text(pieces, count, token);
    const std::size_t head_end = text.find(kHeadEnd);
    std::string_view head = std::string_view(text).substr(0, head_end);
    while (!head.empty()) {
        const std::size_t end = head.find("\r\n");
        say("> ", escaped(head.substr(0, end)));
        head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
    }
    if (head_end != std::string::npos) {
        say("> ", escaped(std::string_view(text).substr(head_end + kHeadEnd.size())));
    }
}

void keep_head(std::string_view line) {
    add_head_line(g_reply_head, line);
}

void trace_head(std::string_view line) {
    keep_head(line);
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line.empty()) say("< ", escaped(line));
}

void trace_output_frame(OutputChannel channel, std::size_t decoded_bytes) {
    say("frame: ", std::string("output, ") +
                       (channel == OutputChannel::Stdout ? "stdout" : "stderr") + ", " +
                       std::to_string(decoded_bytes) + " bytes");
}

void trace_terminal_frame(std::uint8_t exit_code) {
    say("frame: ", "terminal, exit code " + std::to_string(exit_code));
}

void trace_failure_frame(std::string_view code, std::uint8_t exit_code) {
    say("frame: ", "failure, code " + quoted(code) + ", exit code " + std::to_string(exit_code));
}

constexpr ExchangeWatcher kTracer{trace_request_lines, trace_head, trace_output_frame,
                                  trace_terminal_frame, trace_failure_frame};

// Without --trace, only the reply's head is kept.
constexpr ExchangeWatcher kKeeper{[](const struct iovec*, std::size_t, std::string_view) {},
                                  keep_head, [](OutputChannel, std::size_t) {}, [](std::uint8_t) {},
                                  [](std::string_view, std::uint8_t) {}};

}  // namespace

void watch_reply(bool trace) {
    watch_exchange(trace ? &kTracer : &kKeeper);
}

const ReplyHead& reply_head() {
    return g_reply_head;
}

}  // namespace velmot::doctor
