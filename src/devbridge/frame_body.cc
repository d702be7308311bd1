#include "devbridge/frame_body.h"

#include "common/frame_writer.h"
#include "common/utf8.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

namespace {

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

}  // namespace

bool FrameBody::add_output(OutputChannel channel, std::string_view chunk) {
    const std::size_t line = output_frame_length(chunk.size());
    if (size() + line + kClosingFrameReserve > limit_) return false;
    append_output_frame(body_, channel, chunk);
    return true;
}

void FrameBody::close_with_terminal(std::uint8_t exit_code) {
    append_terminal_frame(body_, exit_code);
}

void FrameBody::close_with_failure(std::string_view code, std::string_view message,
                                   std::uint8_t exit_code) {
    append_failure_frame(body_, cut(code, kMaxFailureCodeBytes),
                         cut(message, kMaxFailureMessageBytes), exit_code);
}

}  // namespace velmot::devbridge
