#include "common/white_space.h"

#include <cstddef>

namespace velmot {
namespace {

bool is_ascii_white_space(unsigned char byte) {
    return (byte >= 0x09 && byte <= 0x0D) || byte == 0x20;
}

bool is_two_byte_white_space(unsigned char b0, unsigned char b1) {
    return b0 == 0xC2 && (b1 == 0x85 || b1 == 0xA0);  // U+0085, U+00A0
}

bool is_three_byte_white_space(unsigned char b0, unsigned char b1, unsigned char b2) {
    if (b0 == 0xE1) return b1 == 0x9A && b2 == 0x80;  // U+1680
    if (b0 == 0xE3) return b1 == 0x80 && b2 == 0x80;  // U+3000
    if (b0 != 0xE2) return false;
    if (b1 == 0x81) return b2 == 0x9F;  // U+205F
    if (b1 != 0x80) return false;
    return (b2 >= 0x80 && b2 <= 0x8A)   // U+2000 to U+200A
           || b2 == 0xA8 || b2 == 0xA9  // U+2028, U+2029
           || b2 == 0xAF;               // U+202F
}

unsigned char byte_at(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]);
}

// The byte length of the white-space character that starts `text`, or 0.
// Lead bytes never occur as continuation bytes, so in valid UTF-8 a match of
// the whole encoding is a match of one character.
std::size_t leading_white_space(std::string_view text) {
    const std::size_t n = text.size();
    if (n >= 1 && is_ascii_white_space(byte_at(text, 0))) return 1;
    if (n >= 2 && is_two_byte_white_space(byte_at(text, 0), byte_at(text, 1))) return 2;
    if (n >= 3 && is_three_byte_white_space(byte_at(text, 0), byte_at(text, 1), byte_at(text, 2)))
        return 3;
    return 0;
}

// The byte length of the white-space character that ends `text`, or 0.
std::size_t trailing_white_space(std::string_view text) {
    const std::size_t n = text.size();
    if (n >= 1 && is_ascii_white_space(byte_at(text, n - 1))) return 1;
    if (n >= 2 && is_two_byte_white_space(byte_at(text, n - 2), byte_at(text, n - 1))) return 2;
    if (n >= 3 &&
        is_three_byte_white_space(byte_at(text, n - 3), byte_at(text, n - 2), byte_at(text, n - 1)))
        return 3;
    return 0;
}

}  // namespace

std::string_view trim_trailing_white_space(std::string_view text) {
    // ASCII bytes first, without the general test: a body line nearly
    // always ends in its line feed after a closing bracket.
    while (!text.empty() && byte_at(text, text.size() - 1) < 0x80) {
        if (!is_ascii_white_space(byte_at(text, text.size() - 1))) return text;
        text.remove_suffix(1);
    }
    while (const std::size_t n = trailing_white_space(text))
        text.remove_suffix(n);
    return text;
}

std::string_view trim_white_space(std::string_view text) {
    while (const std::size_t n = leading_white_space(text))
        text.remove_prefix(n);
    return trim_trailing_white_space(text);
}

}  // namespace velmot
