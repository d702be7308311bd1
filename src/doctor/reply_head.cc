#include "doctor/reply_head.h"

#include "common/white_space.h"
#include "doctor/quote.h"

namespace velmot::doctor {
namespace {

// ASCII letters folded to lower case, for header names and media types,
// which HTTP compares without regard to case.
std::string lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string_view without_line_end(std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

// A bridge sends its frames as JSON lines, and may refuse a request with
// plain text or JSON; any other media type (HTML above all) is some other
// server's.
bool is_bridge_media_type(std::string_view value) {
    const std::string type = lower_ascii(value.substr(0, value.find(';')));
    const std::string_view media = trim_white_space(type);
    return media == "text/plain" || media.find("json") != std::string_view::npos;
}

// A bridge that names itself names this project.
bool is_bridge_server(std::string_view value) {
    return lower_ascii(value).find("velmot") != std::string::npos;
}

}  // namespace

void add_head_line(ReplyHead& head, std::string_view line) {
    line = without_line_end(line);
    if (!head.status_seen) {
        head.status_seen = true;
        head.status_line = line;
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string name = lower_ascii(line.substr(0, colon));
    const std::string value(trim_white_space(line.substr(colon + 1)));
    if (name == "server") head.server = value;
    if (name == "content-type") head.content_type = value;
}

std::string foreign_evidence(const ReplyHead& head) {
    std::string evidence;
    auto add = [&evidence](std::string part) {
        if (!evidence.empty()) evidence += ", ";
        evidence += part;
    };
    if (head.status_seen && !head.status_line.starts_with("HTTP/1.1 ")) {
        add("status line " + quoted(head.status_line));
    }
    if (head.server && !is_bridge_server(*head.server)) add("Server " + quoted(*head.server));
    if (head.content_type && !is_bridge_media_type(*head.content_type)) {
        add("Content-Type " + quoted(*head.content_type));
    }
    return evidence;
}

}  // namespace velmot::doctor
