// Trimming of Unicode white space (the characters with the White_Space
// property: U+0009 to U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F, U+3000) from UTF-8 text. This is
// the white space removed around the bridge's header values and at the end of
// its body lines; it is not the white space that separates JSON tokens.
//
// The results are views into the input. Only whole encodings of white-space
// characters are removed, so on bytes that are not UTF-8 (a body line is
// trimmed before it is checked) trimming stops at the first other byte.
#pragma once

#include <string_view>

namespace velmot {

std::string_view trim_trailing_white_space(std::string_view text);
std::string_view trim_white_space(std::string_view text);

}  // namespace velmot
