// Base64 encoding with the standard alphabet and "=" padding: the canonical
// text that the launcher's decoder accepts. The development bridge writes
// its output chunks with it; the launcher itself only decodes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmot {

// The standard alphabet: the character for each 6-bit value.
inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The length of the encoding of `byte_count` bytes.
constexpr std::size_t base64_length(std::size_t byte_count) {
    return (byte_count + 2) / 3 * 4;
}

// Appends the encoding of `bytes` (any bytes) to `out`.
void append_base64(std::string& out, std::string_view bytes);

// The encoding of `bytes` as a new text.
std::string base64_encode(std::string_view bytes);

}  // namespace velmot
