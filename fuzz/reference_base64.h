// Plain Base64 (standard alphabet, "=" padding) for the fuzz targets: an
// encoder, and a lenient decoder that ignores stray bits in the last
// character. Text is canonical exactly when encoding its lenient decoding
// gives it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmot::fuzz {

inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline std::string reference_base64_encode(std::string_view bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            const auto byte = k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u;
            group = (group << 8) | byte;
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

inline int reference_sextet(char c) {
    for (int i = 0; i < 64; ++i) {
        if (kBase64Alphabet[i] == c) return i;
    }
    return -1;
}

// Groups of four alphabet characters, the last of which may end in one or
// two pad characters; stray bits are dropped.
inline std::optional<std::string> reference_base64_lenient_decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t pads = 0;
    while (pads < 2 && pads < text.size() && text[text.size() - 1 - pads] == '=')
        ++pads;
    std::string bytes;
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t i = 0; i + pads < text.size(); ++i) {
        const int value = reference_sextet(text[i]);
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    return bytes;
}

}  // namespace velmot::fuzz
