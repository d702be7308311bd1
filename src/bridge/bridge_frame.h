// One line of the bridge's response body, decoded: a `BridgeFrame` is an
// output chunk, the command's end with its exit status, or a failure on the
// bridge's side. `decode_frame` decides only whether the line is a well-formed
// frame and what its fields hold; what the values mean (protocol version,
// Base64, failure codes) is for the frame handler to judge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/output_channel.h"

namespace velmot {

struct Output {
    std::uint8_t protocol_version = 0;
    OutputChannel channel = OutputChannel::Stdout;
    std::string bytes_base64;
};

struct Terminal {
    std::uint8_t protocol_version = 0;
    std::uint8_t exit_code = 0;
};

struct Failure {
    std::uint8_t protocol_version = 0;
    std::string code;
    std::string message;
    std::uint8_t exit_code = 0;
};

using BridgeFrame = std::variant<Output, Terminal, Failure>;

// `text` is one body line without its line feed and trailing white space. The
// returned frame owns its texts.
std::optional<BridgeFrame> decode_frame(std::string_view text);

}  // namespace velmot
