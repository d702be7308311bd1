#include "bridge/frame_handler.h"

#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "bridge/exchange_trace.h"
#include "common/base64.h"
#include "common/failure_note.h"
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

FrameOutcome fails(FailureReason reason) {
    note_failure(reason);
    return FrameOutcome::fail();
}

bool write_to(OutputChannel channel, std::string_view chunk) {
    return channel == OutputChannel::Stderr ? write_stderr(chunk) : write_stdout(chunk);
}

FrameOutcome handle(const Output& frame) {
    if (frame.protocol_version != kProtocolVersion) return fails(FailureReason::ProtocolVersion);
    // The chunk is decoded over its own Base64 text in the body line, so that
    // no chunk is ever copied before it is written.
    const std::optional<std::span<char>> chunk = base64_decode_in_place(frame.bytes_base64);
    if (!chunk) return fails(FailureReason::ChunkNotBase64);
    if (chunk->empty() || chunk->size() > kMaxChunkBytes) return fails(FailureReason::ChunkSize);
    trace_output(frame.channel, chunk->size());
    if (!write_to(frame.channel, {chunk->data(), chunk->size()})) {
        return fails(frame.channel == OutputChannel::Stdout ? FailureReason::StdoutWriteFailed
                                                            : FailureReason::StderrWriteFailed);
    }
    return FrameOutcome::continue_reading();
}

FrameOutcome handle(const Terminal& frame) {
    if (frame.protocol_version != kProtocolVersion) return fails(FailureReason::ProtocolVersion);
    trace_terminal(frame.exit_code);
    return FrameOutcome::finished(frame.exit_code);
}

FrameOutcome handle(const Failure& frame) {
    if (frame.protocol_version != kProtocolVersion) return fails(FailureReason::ProtocolVersion);
    if (!is_valid_failure_code(frame.code)) return fails(FailureReason::FailureCodeInvalid);
    trace_failure(frame.code, frame.exit_code);
    // Code and message go out verbatim: a message with line feeds spans lines.
    write_diagnostic_or_exit({kFailureLinePrefix, frame.code, ": ", frame.message, "\n"});
    return FrameOutcome::finished(frame.exit_code);
}

}  // namespace

FrameOutcome handle_frame(const BridgeFrame& frame) {
    return std::visit([](const auto& variant) { return handle(variant); }, frame);
}

}  // namespace velmot
