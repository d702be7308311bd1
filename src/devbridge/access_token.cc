#include "devbridge/access_token.h"

#include <array>
#include <cstddef>

#include "common/system_calls.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

std::optional<std::string> make_access_token() {
    std::array<unsigned char, kTokenBytes> random{};
    if (!sys::random_bytes(random.data(), random.size())) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    token.reserve(2 * random.size());
    for (const unsigned char byte : random) {
        token.push_back(kHex[byte >> 4]);
        token.push_back(kHex[byte & 15]);
    }
    return token;
}

bool token_matches(std::string_view offered, std::string_view token) {
    if (offered.size() != token.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i) {
        difference |= static_cast<unsigned char>(offered[i] ^ token[i]);
    }
    return difference == 0;
}

}  // namespace velmot::devbridge
