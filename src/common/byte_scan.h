// Finding the first byte of a class in a run of bytes, many bytes per step:
// blocks of 16 and 64 bytes where SSE2 is there, words of 8 elsewhere and for
// runs shorter than a block, and 128 bytes a step through long runs where
// the processor has AVX2. Two classes are searched: the bytes that end
// plain ASCII content of a JSON string (read for every string of every frame
// line) and the bytes outside ASCII (skipped by UTF-8 validation).
//
// A class gives the same answer four ways: `byte` for one byte, `word` for
// eight (the high bit set in every byte of the class; a borrow may also mark
// bytes above the first one, never below it), with SSE2 `block` for sixteen
// and with AVX2 `wide` for 32 (all ones in every byte of the class).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__SSE2__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELMOT_BYTE_SCAN_WIDE 1
#include <immintrin.h>

#include "common/avx2.h"
#endif

namespace velmot::byte_scan {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes as a word whose lowest byte is the first in memory, whatever
// the machine's byte order, so that the word scan reads the same on every
// machine: the first marked byte is the lowest, and a borrow can only mark
// bytes after it.
inline std::uint64_t load64(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    static_assert(std::endian::native == std::endian::big ||
                  std::endian::native == std::endian::little);
    return v;
}

// A quotation mark, a backslash, a byte below 0x20 or one above 0x7F: the
// scan of a string stops at every byte that is not plain ASCII content, so
// that the string's UTF-8 is checked in the same pass.
struct StringStop {
    static bool byte(unsigned char c) noexcept {
        return c == '"' || c == '\\' || c < 0x20 || c >= 0x80;
    }
    static std::uint64_t word(std::uint64_t v) noexcept {
        const std::uint64_t quote = v ^ (kOnes * '"');
        const std::uint64_t backslash = v ^ (kOnes * '\\');
        const std::uint64_t zero_quote = (quote - kOnes) & ~quote;
        const std::uint64_t zero_backslash = (backslash - kOnes) & ~backslash;
        const std::uint64_t control = (v - kOnes * 0x20) & ~v;
        return (zero_quote | zero_backslash | control | v) & kHighBits;
    }
#if defined(__SSE2__)
    static __m128i block(__m128i v) noexcept {
        const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
        const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
        // As signed bytes, those below 0x20 and those above 0x7F are exactly
        // the ones less than 0x20.
        const __m128i control_or_high = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
        return _mm_or_si128(_mm_or_si128(quote, backslash), control_or_high);
    }
#endif
#if defined(VELMOT_BYTE_SCAN_WIDE)
    [[gnu::target("avx2")]] static __m256i wide(__m256i v) noexcept {
        const __m256i quote = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"'));
        const __m256i backslash = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'));
        const __m256i control_or_high = _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), v);
        return _mm256_or_si256(_mm256_or_si256(quote, backslash), control_or_high);
    }
#endif
};

// A byte of 0x80 or above.
struct NonAscii {
    static bool byte(unsigned char c) noexcept { return c >= 0x80; }
    static std::uint64_t word(std::uint64_t v) noexcept { return v & kHighBits; }
#if defined(__SSE2__)
    // Only the high bit of each byte is looked at, so the bytes serve as is.
    static __m128i block(__m128i v) noexcept {
        return v;
    }
#endif
#if defined(VELMOT_BYTE_SCAN_WIDE)
    [[gnu::target("avx2")]] static __m256i wide(__m256i v) noexcept {
        return v;
    }
#endif
};

// The index of the first byte of `Class` among the `n` bytes at `p`, or `n`:
// words of eight, then single bytes.
template <class Class>
std::size_t find_first_by_words(const char* p, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t found = Class::word(load64(p + i));
        if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
    }
    while (i < n && !Class::byte(static_cast<unsigned char>(p[i])))
        ++i;
    return i;
}

#if defined(__SSE2__)
namespace detail {

template <class Class>
unsigned block_mask(const char* p) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(Class::block(v)));
}

template <class Class>
bool quad_is_clear(const char* p) noexcept {
    const auto load = [](const char* q) {
        return Class::block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
    };
    const __m128i low = _mm_or_si128(load(p), load(p + 16));
    const __m128i high = _mm_or_si128(load(p + 32), load(p + 48));
    return _mm_movemask_epi8(_mm_or_si128(low, high)) == 0;
}

// `find_first` from byte `i` on, of at least 16 bytes in all: 64 bytes a
// step, then blocks of 16, the last one overlapping checked bytes, whose
// bits are clear.
template <class Class>
std::size_t find_first_by_blocks(const char* p, std::size_t i, std::size_t n) noexcept {
    while (i + 64 <= n && quad_is_clear<Class>(p + i))
        i += 64;
    for (; i + 16 <= n; i += 16) {
        if (const unsigned mask = block_mask<Class>(p + i); mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
    if (i < n) {
        if (const unsigned mask = block_mask<Class>(p + n - 16); mask != 0) {
            return n - 16 + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
    return n;
}

#if defined(VELMOT_BYTE_SCAN_WIDE)
// Runs at least this long are worth the AVX2 loop.
inline constexpr std::size_t kWideRunBytes = 256;

template <class Class>
[[gnu::target("avx2")]] __m256i wide_bits(const char* p) noexcept {
    return Class::wide(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

template <class Class>
[[gnu::target("avx2")]] unsigned wide_mask(const char* p) noexcept {
    return static_cast<unsigned>(_mm256_movemask_epi8(wide_bits<Class>(p)));
}

// `find_first_by_blocks` with AVX2, for at least 32 bytes from `i` on: 128
// bytes a step, then blocks of 32, the last one overlapping checked bytes.
template <class Class>
[[gnu::target("avx2")]] std::size_t find_first_wide(const char* p, std::size_t i,
                                                    std::size_t n) noexcept {
    for (; i + 128 <= n; i += 128) {
        const __m256i any = _mm256_or_si256(
            _mm256_or_si256(wide_bits<Class>(p + i), wide_bits<Class>(p + i + 32)),
            _mm256_or_si256(wide_bits<Class>(p + i + 64), wide_bits<Class>(p + i + 96)));
        if (!_mm256_testz_si256(any, any)) break;
    }
    for (; i + 32 <= n; i += 32) {
        if (const unsigned mask = wide_mask<Class>(p + i); mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
    if (i < n) {
        if (const unsigned mask = wide_mask<Class>(p + n - 32); mask != 0) {
            return n - 32 + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
    return n;
}

// Out of line, so that the short runs most scans are carry no trace of it.
template <class Class>
[[gnu::noinline]] std::size_t find_first_in_long_run(const char* p, std::size_t i,
                                                     std::size_t n) noexcept {
    if (avx2_available()) return find_first_wide<Class>(p, i, n);
    return find_first_by_blocks<Class>(p, i, n);
}
#endif

}  // namespace detail

// `find_first` for at least 16 bytes whose first block of 16 holds no byte of
// the class. The next `kLeadBlocks` blocks settle short runs (a JSON string
// is mostly a key or a name) before the longer steps start.
template <class Class, std::size_t kLeadBlocks>
std::size_t find_first_after_block(const char* p, std::size_t n) noexcept {
    std::size_t i = 16;
    for (std::size_t lead = 0; lead < kLeadBlocks && i + 16 <= n; ++lead, i += 16) {
        if (const unsigned mask = detail::block_mask<Class>(p + i); mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
#if defined(VELMOT_BYTE_SCAN_WIDE)
    if (n - i >= detail::kWideRunBytes) return detail::find_first_in_long_run<Class>(p, i, n);
#endif
    return detail::find_first_by_blocks<Class>(p, i, n);
}
#endif

// The index of the first byte of `Class` among the `n` bytes at `p`, or `n`.
// The first block is looked at here, inline, since most runs end in it; the
// lead blocks after it are `kLeadBlocks`.
template <class Class, std::size_t kLeadBlocks = 0>
std::size_t find_first(const char* p, std::size_t n) noexcept {
#if defined(__SSE2__)
    if (n >= 16) {
        if (const unsigned mask = detail::block_mask<Class>(p); mask != 0) {
            return static_cast<std::size_t>(std::countr_zero(mask));
        }
        return find_first_after_block<Class, kLeadBlocks>(p, n);
    }
#endif
    return find_first_by_words<Class>(p, n);
}

}  // namespace velmot::byte_scan
