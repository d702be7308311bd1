// Quoting text that came from the bridge or the environment in the doctor's
// own lines, so that it can neither hide nor forge a line: control characters
// and bytes that are not valid UTF-8 are escaped (\n, \r, \t, \xHH);
// everything else is kept. Between quotation marks, the quotation mark and
// the backslash are escaped too.
#pragma once

#include <string>
#include <string_view>

namespace velmot::doctor {

// `text`, escaped.
std::string escaped(std::string_view text);

// `text` between quotation marks, escaped.
std::string quoted(std::string_view text);

}  // namespace velmot::doctor
