#include "common/utf8.h"

#include <cstdint>

#include "common/byte_scan.h"

namespace velmot {
namespace {

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view bytes) {
    if (bytes.empty()) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char lead = s[0];
    if (lead < 0x80) return 1;
    // The second byte's range depends on the lead byte; that is where overlong
    // forms, surrogates and values above U+10FFFF are excluded.
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (s[1] < low || s[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!is_continuation(s[i])) return 0;
    }
    return length;
}

bool is_valid_utf8(std::string_view bytes) {
    const char* p = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    for (;;) {
        i += byte_scan::find_first<byte_scan::NonAscii>(p + i, n - i);
        if (i == n) return true;
        const std::size_t length = utf8_sequence_length({p + i, n - i});
        if (length == 0) return false;
        i += length;
    }
}

std::size_t count_scalars(std::string_view valid_utf8) {
    std::size_t count = 0;
    for (unsigned char c : valid_utf8)
        count += !is_continuation(c);
    return count;
}

}  // namespace velmot
