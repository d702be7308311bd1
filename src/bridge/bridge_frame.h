// One line of the bridge's response body, decoded: a `BridgeFrame` is an
// output chunk, the command's end with its exit status, or a failure on the
// bridge's side. `decode_frame` decides only whether the line is a well-formed
// frame and what its fields hold; what the values mean (protocol version,
// Base64, failure codes) is for the frame handler to judge.
//
// A decoded frame borrows the line it was decoded from. Its texts are views
// of the line's own storage, and a string written with escapes is decoded in
// place there, over its escaped form; the frame handler then decodes an
// output chunk's Base64 text in place as well. Decoding therefore changes the
// line, and the frame stays valid only while the line's storage is left
// alone: the response reader handles each frame before it reads the next
// line into the same storage. Nothing of a frame is allocated.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "common/output_channel.h"

namespace velmot {

struct Output {
    std::uint8_t protocol_version = 0;
    OutputChannel channel = OutputChannel::Stdout;
    // Writable, so that the chunk can be decoded over its own text.
    std::span<char> bytes_base64;
};

struct Terminal {
    std::uint8_t protocol_version = 0;
    std::uint8_t exit_code = 0;
};

struct Failure {
    std::uint8_t protocol_version = 0;
    std::string_view code;
    std::string_view message;
    std::uint8_t exit_code = 0;
};

using BridgeFrame = std::variant<Output, Terminal, Failure>;

// `line` is one body line without its line feed and trailing white space.
// The returned frame borrows `line`, which decoding may have changed,
// whether or not it succeeded.
std::optional<BridgeFrame> decode_frame(std::span<char> line);

}  // namespace velmot
