#include "common/base64_avx2.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cstdint>

namespace velmot {
namespace {

// The same 16 bytes in both 128-bit lanes, since byte shuffles stay within
// their lane.
__attribute__((target("avx2"))) __m256i both_lanes(char b0, char b1, char b2, char b3, char b4,
                                                   char b5, char b6, char b7, char b8, char b9,
                                                   char b10, char b11, char b12, char b13, char b14,
                                                   char b15) {
    return _mm256_setr_epi8(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15,
                            b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15);
}

// Character classes by nibble. A character's high nibble selects one class
// bit: 0x01 for 2 ("+", "/"), 0x02 for 3 (digits), 0x04 for 4 and 6 (letters
// from A and a), 0x08 for 5 and 7 (letters up to Z and z), 0x10 for all
// others, which hold no alphabet character. The table of low nibbles sets the
// bits of the classes in which that low nibble is not in the alphabet, so a
// character is valid exactly when the two entries share no bit.
//
// The offset that turns a character into its 6-bit value also follows from
// its high nibble, except that "/" (0x2F) differs from "+" (0x2B): it is moved
// to entry 1 by subtracting one from its index.
struct Tables {
    __m256i invalid_by_low;
    __m256i class_by_high;
    __m256i offset;
    __m256i nibble;
    __m256i slash;
};

__attribute__((target("avx2"))) Tables make_tables() {
    return {
        both_lanes(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                   0x1B, 0x1B, 0x1A),
        both_lanes(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                   0x10, 0x10, 0x10),
        // 0: unused; 1: "/" to 63; 2: "+" to 62; 3: "0" to 52; 4, 5: "A" to 0;
        // 6, 7: "a" to 26.
        both_lanes(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0),
        _mm256_set1_epi8(0x0F),
        _mm256_set1_epi8('/'),
    };
}

// The 6-bit values of 32 characters, and in `invalid` a non-zero byte for
// each character outside the alphabet.
__attribute__((target("avx2"))) __m256i sextets(__m256i chars, const Tables& t, __m256i& invalid) {
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), t.nibble);
    const __m256i low = _mm256_and_si256(chars, t.nibble);
    // A byte at or above 0x80 has a high nibble of 8 or more: class 0x10,
    // which every low nibble marks invalid.
    invalid = _mm256_and_si256(_mm256_shuffle_epi8(t.invalid_by_low, low),
                               _mm256_shuffle_epi8(t.class_by_high, high));
    const __m256i is_slash = _mm256_cmpeq_epi8(chars, t.slash);
    const __m256i offset = _mm256_shuffle_epi8(t.offset, _mm256_add_epi8(high, is_slash));
    return _mm256_add_epi8(chars, offset);
}

// Packs the four 6-bit values of each group into its three bytes: in each
// 32-bit lane first a<<6|b and c<<6|d, then those two joined into 24 bits,
// whose bytes are then put in memory order and the lanes' 12 bytes side by
// side.
__attribute__((target("avx2"))) __m256i pack_groups(__m256i values) {
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i bytes = _mm256_shuffle_epi8(
        words, both_lanes(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

__attribute__((target("avx2"))) bool decode_blocks(const unsigned char* in, std::size_t blocks,
                                                   unsigned char* out) {
    const Tables tables = make_tables();
    __m256i seen_invalid = _mm256_setzero_si256();
    for (const unsigned char* const end = in + 32 * blocks; in != end; in += 32, out += 24) {
        __m256i invalid;
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i values = sextets(chars, tables, invalid);
        seen_invalid = _mm256_or_si256(seen_invalid, invalid);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pack_groups(values));
    }
    return _mm256_testz_si256(seen_invalid, seen_invalid) != 0;
}

}  // namespace

bool avx2_decode_blocks(const unsigned char* in, std::size_t blocks, unsigned char* out) {
    return decode_blocks(in, blocks, out);
}

}  // namespace velmot

#else

namespace velmot {

bool avx2_decode_blocks(const unsigned char*, std::size_t, unsigned char*) {
    return false;
}

}  // namespace velmot

#endif
