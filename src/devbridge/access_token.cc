#include "devbridge/access_token.h"

#include <errno.h>
#include <sys/random.h>

#include <array>
#include <cstddef>

#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

std::optional<std::string> make_access_token() {
    std::array<unsigned char, kTokenBytes> random{};
    std::size_t filled = 0;
    while (filled < random.size()) {
        const ssize_t got = ::getrandom(random.data() + filled, random.size() - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        filled += static_cast<std::size_t>(got);
    }
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
