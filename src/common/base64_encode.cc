#include "common/base64_encode.h"

#include <cstdint>

namespace velmot {
namespace {

constexpr const char* kAlphabet = kBase64Alphabet.data();

std::uint32_t byte_at(std::string_view bytes, std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

}  // namespace

void append_base64(std::string& out, std::string_view bytes) {
    const std::size_t start = out.size();
    out.resize(start + base64_length(bytes.size()));
    char* to = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group =
            byte_at(bytes, i) << 16 | byte_at(bytes, i + 1) << 8 | byte_at(bytes, i + 2);
        *to++ = kAlphabet[group >> 18];
        *to++ = kAlphabet[group >> 12 & 63];
        *to++ = kAlphabet[group >> 6 & 63];
        *to++ = kAlphabet[group & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left == 0) return;
    std::uint32_t group = byte_at(bytes, i) << 16;
    if (left == 2) group |= byte_at(bytes, i + 1) << 8;
    *to++ = kAlphabet[group >> 18];
    *to++ = kAlphabet[group >> 12 & 63];
    *to++ = left == 2 ? kAlphabet[group >> 6 & 63] : '=';
    *to = '=';
}

std::string base64_encode(std::string_view bytes) {
    std::string text;
    append_base64(text, bytes);
    return text;
}

}  // namespace velmot
