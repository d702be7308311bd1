// Base64 decoding of the standard alphabet with "=" padding, accepting only
// canonical text: exactly the texts that re-encoding their own decoded bytes
// would reproduce. No white space, no URL-safe characters, no missing or
// extra padding, no stray bits in the last character.
#pragma once

#include <optional>
#include <span>

namespace velmot {

// Decodes `text` into its own storage: on success the decoded bytes (any
// bytes, NUL included) start its first byte, and the result views them, so a
// large chunk never needs a second buffer; the empty text decodes to no
// bytes. On failure the content of `text` is unspecified.
std::optional<std::span<char>> base64_decode_in_place(std::span<char> text);

}  // namespace velmot
