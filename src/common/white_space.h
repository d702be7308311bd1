// Trimming of Unicode white space (the characters with the White_Space
// property: U+0009 to U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F, U+3000) from UTF-8 text. This is
// the white space removed around the bridge's header values and at the end of
// its body lines; it is not the white space that separates JSON tokens.
//
// The input must be valid UTF-8; the results are views into it.
#pragma once

#include <string_view>

namespace velmot {

std::string_view trim_trailing_white_space(std::string_view text);
std::string_view trim_white_space(std::string_view text);

}  // namespace velmot
