// UTF-8 checks on raw bytes: strict validation (no overlong forms, no
// surrogates, nothing above U+10FFFF) and counting Unicode scalar values.
// Validation skips runs of ASCII many bytes at a time (blocks of 16 and 64
// bytes where SSE2 is there, words of 8 elsewhere) and checks every other
// sequence byte by byte.
#pragma once

#include <cstddef>
#include <string_view>

namespace velmot {

bool is_valid_utf8(std::string_view bytes);

// The number of scalar values in text that is already known to be valid
// UTF-8: the bytes that are not continuation bytes.
std::size_t count_scalars(std::string_view valid_utf8);

// The length of the valid UTF-8 sequence that starts `bytes`, or 0 when the
// bytes there do not start a valid sequence (or end before it is complete).
std::size_t utf8_sequence_length(std::string_view bytes);

}  // namespace velmot
