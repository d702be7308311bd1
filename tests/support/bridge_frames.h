// Builders for what a bridge sends, for tests: the three kinds of frame line
// (each ending in a line feed) and a whole 200 response whose Content-Length
// matches its body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/base64_encode.h"

namespace velmot::testing {

using velmot::base64_encode;

// {"kind":"plugin_cli_output","protocol_version":1,"channel":...,"bytes_base64":...}
std::string stdout_frame(std::string_view bytes);
std::string stderr_frame(std::string_view bytes);
std::string terminal_frame(std::uint8_t exit_code);
std::string failure_frame(std::string_view code, std::string_view message, std::uint8_t exit_code);

// "HTTP/1.1 200 OK", a Content-Length equal to the body's size, the empty
// line, the body.
std::string ok_response(std::string_view body);

}  // namespace velmot::testing
