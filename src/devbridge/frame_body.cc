#include "devbridge/frame_body.h"

#include <charconv>

#include "common/utf8.h"
#include "devbridge/base64_encode.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

namespace {

// Both channel names have six letters, so an output line's length depends
// on the chunk's length alone.
constexpr std::string_view kOutputHead =
    R"({"kind":"plugin_cli_output","protocol_version":1,"channel":")";
constexpr std::string_view kOutputMiddle = R"(","bytes_base64":")";
constexpr std::string_view kOutputTail = "\"}\n";
constexpr std::string_view kTerminalHead =
    R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":)";
constexpr std::string_view kFailureHead =
    R"({"kind":"plugin_cli_failure","protocol_version":1,"code":)";

std::string_view channel_name(OutputChannel channel) {
    return channel == OutputChannel::Stdout ? "stdout" : "stderr";
}

void append_number(std::string& out, unsigned value) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The longest prefix of `text` of at most `limit` bytes that ends on a
// character boundary.
std::string_view cut(std::string_view text, std::size_t limit) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t length = utf8_sequence_length(text.substr(end));
        if (length == 0 || end + length > limit) break;
        end += length;
    }
    return text.substr(0, end);
}

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            out.append("\\u00");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

}  // namespace

std::size_t FrameBody::output_line_length(std::size_t chunk_bytes) {
    return kOutputHead.size() + 6 + kOutputMiddle.size() + base64_length(chunk_bytes) +
           kOutputTail.size();
}

bool FrameBody::add_output(OutputChannel channel, std::string_view chunk) {
    const std::size_t line = output_line_length(chunk.size());
    if (body_.size() + line + kClosingFrameReserve > limit_) return false;
    body_.reserve(body_.size() + line);
    body_.append(kOutputHead);
    body_.append(channel_name(channel));
    body_.append(kOutputMiddle);
    append_base64(body_, chunk);
    body_.append(kOutputTail);
    return true;
}

void FrameBody::close_with_terminal(std::uint8_t exit_code) {
    body_.append(kTerminalHead);
    append_number(body_, exit_code);
    body_.append("}\n");
}

void FrameBody::close_with_failure(std::string_view code, std::string_view message,
                                   std::uint8_t exit_code) {
    body_.append(kFailureHead);
    append_json_string(body_, cut(code, kMaxFailureCodeBytes));
    body_.append(R"(,"message":)");
    append_json_string(body_, cut(message, kMaxFailureMessageBytes));
    body_.append(R"(,"exit_code":)");
    append_number(body_, exit_code);
    body_.append("}\n");
}

}  // namespace velmot::devbridge
