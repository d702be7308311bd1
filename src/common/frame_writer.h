// Writing the bridge's frame lines, each ending in a line feed, in the form
// a bridge writes them: "kind" first, then the variant's fields in their
// declaration order, no white space. The development bridge builds its
// replies with these; the tests and benchmarks build their bridges' replies
// the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/output_channel.h"

namespace velmot {

// {"kind":"plugin_cli_output","protocol_version":1,"channel":...,"bytes_base64":...}
// with `bytes` Base64-encoded.
void append_output_frame(std::string& out, OutputChannel channel, std::string_view bytes);

// {"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":...}
void append_terminal_frame(std::string& out, std::uint8_t exit_code);

// {"kind":"plugin_cli_failure","protocol_version":1,"code":...,"message":...,"exit_code":...}
// with code and message written as JSON strings.
void append_failure_frame(std::string& out, std::string_view code, std::string_view message,
                          std::uint8_t exit_code);

// The exact length of the output frame line for a chunk of `chunk_bytes`
// bytes; both channel names have six letters, so the channel does not count.
std::size_t output_frame_length(std::size_t chunk_bytes);

}  // namespace velmot
