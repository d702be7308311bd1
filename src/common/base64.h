// Base64 decoding of the standard alphabet with "=" padding, accepting only
// canonical text: exactly the texts that re-encoding their own decoded bytes
// would reproduce. No white space, no URL-safe characters, no missing or
// extra padding, no stray bits in the last character.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmot {

// The decoded bytes (any bytes, NUL included), or nullopt. The empty text
// decodes to no bytes.
std::optional<std::string> base64_decode(std::string_view text);

// The same decoding into the text's own storage: on success `text` holds the
// decoded bytes, so a large chunk never needs a second buffer; on failure its
// content is unspecified.
[[nodiscard]] bool base64_decode_in_place(std::string& text);

}  // namespace velmot
