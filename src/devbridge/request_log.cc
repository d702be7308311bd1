#include "devbridge/request_log.h"

#include <charconv>
#include <string>

#include "common/descriptor_io.h"

namespace velmot::devbridge {

namespace {

constexpr std::string_view kPrefix = "velmot_devbridge: ";

void append_number(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

}  // namespace

void RequestLog::record(std::string_view invocation, int http_status, std::optional<int> exit_code,
                        std::size_t body_bytes, std::int64_t milliseconds,
                        std::string_view remark) const {
    std::string line(kPrefix);
    line.append(invocation).append(" status ");
    append_number(line, http_status);
    if (exit_code) {
        line.append(" exit ");
        append_number(line, *exit_code);
    }
    line.push_back(' ');
    append_number(line, static_cast<std::int64_t>(body_bytes));
    line.append(" bytes ");
    append_number(line, milliseconds);
    line.append(" ms");
    if (!remark.empty()) line.append("; ").append(remark);
    line.push_back('\n');
    // A log that cannot be written must not stop the bridge from serving.
    (void)write_all(fd_, line);
}

void RequestLog::abandoned(std::string_view invocation, std::int64_t milliseconds) const {
    std::string text(invocation);
    text.append(" abandoned by its client after ");
    append_number(text, milliseconds);
    note(text.append(" ms"));
}

void RequestLog::note(std::string_view text) const {
    std::string line(kPrefix);
    line.append(text).push_back('\n');
    (void)write_all(fd_, line);
}

}  // namespace velmot::devbridge
