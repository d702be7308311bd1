#include "bridge/frame_handler.h"

#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "common/base64.h"
#include "common/limits.h"
#include "common/std_streams.h"

namespace velmot {
namespace {

constexpr std::string_view kFailureLinePrefix = "plugin.cli.bridge_";

// Failure codes become part of a diagnostic name, so they are kept to lower
// case letters and underscores; the empty code is allowed.
bool is_valid_failure_code(std::string_view code) {
    for (const char c : code) {
        if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
    }
    return true;
}

bool write_to(OutputChannel channel, std::string_view chunk) {
    return channel == OutputChannel::Stderr ? write_stderr(chunk) : write_stdout(chunk);
}

// The chunk is decoded into the Base64 text's own storage, so that a large
// chunk is never held twice while it is written.
std::optional<std::string> take_chunk(std::string&& text) {
    std::string chunk = std::move(text);
    if (!base64_decode_in_place(chunk)) return std::nullopt;
    if (chunk.empty() || chunk.size() > kMaxChunkBytes) return std::nullopt;
    return chunk;
}

FrameOutcome handle(Output&& frame) {
    if (frame.protocol_version != kProtocolVersion) return FrameOutcome::fail();
    const std::optional<std::string> chunk = take_chunk(std::move(frame.bytes_base64));
    if (!chunk) return FrameOutcome::fail();
    if (!write_to(frame.channel, *chunk)) return FrameOutcome::fail();
    return FrameOutcome::continue_reading();
}

FrameOutcome handle(Terminal&& frame) {
    if (frame.protocol_version != kProtocolVersion) return FrameOutcome::fail();
    return FrameOutcome::finished(frame.exit_code);
}

FrameOutcome handle(Failure&& frame) {
    if (frame.protocol_version != kProtocolVersion) return FrameOutcome::fail();
    if (!is_valid_failure_code(frame.code)) return FrameOutcome::fail();
    // Code and message go out verbatim: a message with line feeds spans lines.
    write_diagnostic_or_exit({kFailureLinePrefix, frame.code, ": ", frame.message, "\n"});
    return FrameOutcome::finished(frame.exit_code);
}

}  // namespace

FrameOutcome handle_frame(BridgeFrame frame) {
    return std::visit([](auto&& variant) { return handle(std::move(variant)); }, std::move(frame));
}

}  // namespace velmot
