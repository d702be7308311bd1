#include "common/utf8.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmot {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

std::uint64_t load64(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

#if defined(__SSE2__)
__m128i load128(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// A bit for each of the 16 bytes at `p` that is not ASCII.
unsigned high_bytes(const char* p) {
    return static_cast<unsigned>(_mm_movemask_epi8(load128(p)));
}

// `ascii_run` for at least 16 bytes. The first block settles text that is
// mostly not ASCII, where a run ends at nearly every character; long runs
// then go 64 bytes a step, and the last bytes are covered by one block that
// overlaps checked ones (whose bits are clear).
std::size_t sse2_ascii_run(const char* p, std::size_t n) {
    if (const unsigned high = high_bytes(p); high != 0) return std::countr_zero(high);
    std::size_t i = 16;
    for (; i + 64 <= n; i += 64) {
        const __m128i low_half = _mm_or_si128(load128(p + i), load128(p + i + 16));
        const __m128i high_half = _mm_or_si128(load128(p + i + 32), load128(p + i + 48));
        if (_mm_movemask_epi8(_mm_or_si128(low_half, high_half)) != 0) break;
    }
    for (; i + 16 <= n; i += 16) {
        if (const unsigned high = high_bytes(p + i); high != 0) return i + std::countr_zero(high);
    }
    if (i < n) {
        if (const unsigned high = high_bytes(p + n - 16); high != 0) {
            return n - 16 + std::countr_zero(high);
        }
    }
    return n;
}
#endif

// The number of ASCII bytes that start the `n` bytes at `p`.
std::size_t ascii_run(const char* p, std::size_t n) {
#if defined(__SSE2__)
    if (n >= 16) return sse2_ascii_run(p, n);
#endif
    std::size_t i = 0;
    while (i + 8 <= n && (load64(p + i) & kHighBits) == 0)
        i += 8;
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80)
        ++i;
    return i;
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
        i += ascii_run(p + i, n - i);
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
