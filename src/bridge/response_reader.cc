#include "bridge/response_reader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bridge/bridge_frame.h"
#include "bridge/exchange_trace.h"
#include "bridge/frame_handler.h"
#include "bridge/line_reader.h"
#include "common/failure_note.h"
#include "common/limits.h"
#include "common/utf8.h"
#include "common/white_space.h"

namespace velmot {
namespace {

constexpr std::uint16_t kStatusOk = 200;
constexpr std::uint64_t kMaxStatusCode = 65'535;
constexpr std::uint16_t kStatusUnauthorized = 401;
constexpr std::uint16_t kStatusForbidden = 403;
constexpr std::uint16_t kStatusNotFound = 404;

// Fails the run at body line `number`; a step inside that found the failure
// (a receive, the decoder, the handler) has noted its own reason already.
std::nullopt_t body_fails(FailureReason reason, std::uint64_t number) {
    note_failure(reason);
    note_failure_step(FailureStep::Body);
    note_failure_line(number);
    return std::nullopt;
}

// The separators of the status line: ASCII white space without the vertical
// tab.
bool is_status_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Takes the next non-empty token off the front of `rest`; empty at the end.
std::string_view next_token(std::string_view& rest) {
    std::size_t begin = 0;
    while (begin < rest.size() && is_status_separator(rest[begin]))
        ++begin;
    std::size_t end = begin;
    while (end < rest.size() && !is_status_separator(rest[end]))
        ++end;
    const std::string_view token = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return token;
}

// An optional "+" and one or more ASCII digits worth at most `max`; leading
// zeros, in any number, change nothing.
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > max) return std::nullopt;
    }
    return value;
}

// Reads one line of the status line or header section. A line that reaches
// the bound without its line feed is longer than any the bridge sends.
bool read_head_line(LineReader& reader, std::string& line, FailureReason too_long) {
    if (!reader.read_line(line, kMaxHeadLineBytes)) return false;
    if (line.size() == kMaxHeadLineBytes && line.back() != '\n') {
        note_failure(too_long);
        return false;
    }
    trace_head_line(line);
    return true;
}

// "HTTP/1.1" and a status code; the reason phrase and the line's ending are
// not looked at.
std::optional<std::uint16_t> read_status_line(LineReader& reader) {
    std::string line;
    if (!read_head_line(reader, line, FailureReason::StatusLineTooLong)) {
        note_failure_step(FailureStep::StatusLine);
        return std::nullopt;
    }
    if (line.empty()) return fail_with(FailureReason::ClosedBeforeReply);
    std::string_view rest = line;
    if (next_token(rest) != "HTTP/1.1") return fail_with(FailureReason::NotHttp11);
    const std::optional<std::uint64_t> code = parse_decimal(next_token(rest), kMaxStatusCode);
    if (!code) return fail_with(FailureReason::StatusCodeInvalid);
    return static_cast<std::uint16_t>(*code);
}

// Exactly 14 bytes that read "content-length" once A to Z are folded to
// lower case; no other byte is folded.
bool is_content_length_name(std::string_view name) {
    constexpr std::string_view kName = "content-length";
    if (name.size() != kName.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kName[i]) return false;
    }
    return true;
}

enum class HeaderLine { More, End, Failed };

HeaderLine header_fails(FailureReason reason) {
    note_failure(reason);
    return HeaderLine::Failed;
}

// Reads header line `number` (from 1): the end of the section, or a header,
// whose value is taken if it is a Content-Length.
HeaderLine read_header_line(LineReader& reader, std::size_t number,
                            std::optional<std::uint64_t>& content_length) {
    std::string line;
    if (!read_head_line(reader, line, FailureReason::HeaderLineTooLong)) return HeaderLine::Failed;
    if (line == "\r\n") return HeaderLine::End;
    if (line.empty()) return header_fails(FailureReason::ClosedInHeaders);
    if (number > kMaxHeaderLines) return header_fails(FailureReason::TooManyHeaders);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return header_fails(FailureReason::HeaderNoColon);
    if (!is_content_length_name(std::string_view(line).substr(0, colon))) return HeaderLine::More;
    const std::string_view value = trim_white_space(std::string_view(line).substr(colon + 1));
    content_length = parse_decimal(value, kMaxContentLength);
    if (!content_length) return header_fails(FailureReason::ContentLengthInvalid);
    return HeaderLine::More;
}

// Reads the header section up to the line that is exactly CR LF and returns
// the value of its last Content-Length header. Every Content-Length header
// must be valid; a section without one fails. Other headers are skipped
// unread.
std::optional<std::uint64_t> read_content_length(LineReader& reader) {
    std::optional<std::uint64_t> content_length;
    for (std::size_t number = 1;; ++number) {
        switch (read_header_line(reader, number, content_length)) {
            case HeaderLine::More:
                continue;
            case HeaderLine::End:
                if (!content_length) return fail_with(FailureReason::ContentLengthMissing);
                return content_length;
            case HeaderLine::Failed:
                note_failure_step(FailureStep::HeaderSection);
                note_failure_line(number);
                return std::nullopt;
        }
    }
}

// Fails the run at body line `number` for `reason`, or for bytes that are not
// UTF-8 if the line holds any: the body reader leaves that check to the frame
// decoder, which refuses such bytes wherever they stand but may find another
// rule broken first. A refused line still holds the bytes it arrived with,
// apart from decoded strings (see json_reader.h).
std::nullopt_t line_fails(std::span<const char> line, FailureReason reason, std::uint64_t number) {
    if (!is_valid_utf8({line.data(), line.size()})) {
        clear_failure_note();
        reason = FailureReason::NotUtf8;
    }
    return body_fails(reason, number);
}

// The size of a body line that ends in a line feed without its trailing white
// space. Nearly always only the line feed goes, after a closing bracket.
std::size_t trimmed_size(std::span<const char> line) {
    const std::size_t size = line.size();
    if (size >= 2) {
        const auto before_feed = static_cast<unsigned char>(line[size - 2]);
        if (before_feed > ' ' && before_feed < 0x80) return size - 1;
    }
    return trim_trailing_white_space({line.data(), size}).size();
}

// Reads the body one line at a time within `content_length` bytes, each line
// decoded and handled before the next is read. The terminal frame's line
// must be the last, and the body must end exactly at `content_length`: once
// no body bytes remain, the end is seen without receiving anything more.
InvocationResult read_body(LineReader& reader, std::uint64_t content_length) {
    std::uint64_t remaining = content_length;
    InvocationResult finished;  // set by the terminal frame
    for (std::uint64_t number = 1;; ++number) {
        const std::optional<std::span<char>> read = reader.read_body_line(remaining);
        if (!read) return body_fails(FailureReason::None, number);
        const std::span<char> line = *read;
        remaining -= line.size();
        if (line.empty()) {
            if (remaining != 0) return body_fails(FailureReason::BodyEndedEarly, number);
            if (!finished) return fail_with(FailureReason::NoTerminalFrame);
            return finished;
        }
        if (finished) return line_fails(line, FailureReason::LineAfterTerminal, number);
        if (line.back() != '\n') {
            return line_fails(line,
                              remaining == 0 ? FailureReason::BodyLineUnterminated
                                             : FailureReason::BodyEndedEarly,
                              number);
        }
        // The frame borrows the line, and is done with before the next line
        // is read.
        const std::optional<BridgeFrame> frame = decode_frame(line.first(trimmed_size(line)));
        if (!frame) return line_fails(line, FailureReason::FrameNotJson, number);
        const FrameOutcome outcome = handle_frame(*frame);
        if (outcome.kind == FrameOutcome::Kind::Fail)
            return body_fails(FailureReason::None, number);
        if (outcome.kind == FrameOutcome::Kind::Finished) finished = outcome.status;
    }
}

FailureReason status_failure(std::uint16_t status) {
    if (status == kStatusUnauthorized || status == kStatusForbidden) {
        return FailureReason::StatusUnauthorized;
    }
    return status == kStatusNotFound ? FailureReason::StatusNotFound : FailureReason::StatusNot200;
}

}  // namespace

InvocationResult read_response(int socket_fd) {
    LineReader reader{socket_fd};
    const std::optional<std::uint16_t> status = read_status_line(reader);
    if (!status) return std::nullopt;
    const std::optional<std::uint64_t> content_length = read_content_length(reader);
    if (!content_length) return std::nullopt;
    if (*status != kStatusOk) {
        note_failure(status_failure(*status));
        note_failure_value(*status);
        return std::nullopt;
    }
    return read_body(reader, *content_length);
}

}  // namespace velmot
