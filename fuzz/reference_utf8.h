// A plain, byte-by-byte UTF-8 validator for the fuzz targets to hold the
// launcher's word-at-a-time validator against: shortest forms only, no
// surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmot::fuzz {

// The length of the valid sequence at the start of `bytes`, or 0.
inline std::size_t reference_sequence_length(std::string_view bytes) {
    if (bytes.empty()) return 0;
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        value = lead & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if ((c & 0xC0u) != 0x80u) return 0;
        value = (value << 6) | (c & 0x3Fu);
    }
    constexpr std::uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF) return 0;
    if (value >= 0xD800 && value <= 0xDFFF) return 0;
    return length;
}

inline bool reference_is_utf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t length = reference_sequence_length(bytes);
        if (length == 0) return false;
        bytes.remove_prefix(length);
    }
    return true;
}

// Scalar values in valid UTF-8.
inline std::size_t reference_scalars(std::string_view valid) {
    std::size_t count = 0;
    while (!valid.empty()) {
        valid.remove_prefix(reference_sequence_length(valid));
        ++count;
    }
    return count;
}

}  // namespace velmot::fuzz
