// The bridge's access token: fresh random bytes from the kernel for every
// run, as lower-case hexadecimal text, and a comparison whose time does not
// depend on where a guess goes wrong.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmot::devbridge {

// A new token of kTokenBytes random bytes, or nullopt when the kernel's
// random source cannot be read.
std::optional<std::string> make_access_token();

// Whether `offered` equals `token`, comparing every byte of equal-length
// texts whatever they hold.
bool token_matches(std::string_view offered, std::string_view token);

}  // namespace velmot::devbridge
