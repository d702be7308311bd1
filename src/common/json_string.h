// Writing a text as a JSON string: the request body's strings, and the
// failure frames the development bridge writes.
#pragma once

#include <string>
#include <string_view>

namespace velmot {

// Appends `text` to `out` as a JSON string, quotes included, escaped byte by
// byte: the quotation mark, the backslash and the control bytes only; "/",
// 0x7F and non-ASCII bytes are copied as they are.
void append_json_string(std::string& out, std::string_view text);

}  // namespace velmot
