#include "common/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velmot {
namespace {

// A byte-at-a-time decoder written straight from the encoding table, to check
// the word-at-a-time validator against.
bool reference_valid(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            n = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07;
        } else
            return false;
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

TEST(Utf8, BoundariesOfEachSequenceLength) {
    for (const std::string& ok :
         std::vector<std::string>{"", "a", "\x7f", "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80",
                                  "\xed\x9f\xbf", "\xee\x80\x80", "\xef\xbf\xbf",
                                  "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf", std::string("\0", 1)}) {
        EXPECT_TRUE(is_valid_utf8(ok)) << ok;
    }
    for (std::string bad :
         {"\x80", "\xc0\x80", "\xc1\xbf", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xf0\x8f\xbf\xbf",
          "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff", "\xc2", "\xe2\x82", "\xc2\x41"}) {
        EXPECT_FALSE(is_valid_utf8(bad)) << bad;
        // The same faults behind a long ASCII run exercise the fast path's exit.
        EXPECT_FALSE(is_valid_utf8(std::string(37, 'x') + bad + std::string(20, 'y')));
    }
}

TEST(Utf8, AgreesWithReferenceOnRandomMixes) {
    std::mt19937 rng(7);
    const std::string pieces[] = {
        "a",    "abcdefghijklmnopq", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
        "\x80", "\xed\xa0\x80",      "\xc3",     "\xf4\x90"};
    for (int round = 0; round < 5000; ++round) {
        std::string s;
        const int n = static_cast<int>(rng() % 12);
        for (int k = 0; k < n; ++k)
            s += pieces[rng() % std::size(pieces)];
        ASSERT_EQ(is_valid_utf8(s), reference_valid(s)) << s;
    }
}

// A sequence, valid or not, at every position of ASCII runs around the sizes
// where the validator changes its step (16-byte blocks, 64-byte steps and the
// last, overlapping block).
TEST(Utf8, SequencesAtEveryPositionOfLongAsciiRuns) {
    const std::string pieces[] = {"\xc3\xa9", "\xf0\x9f\x98\x80", "\x80", "\xed\xa0\x80", "\xc3"};
    for (const std::size_t size :
         {15u, 16u, 17u, 31u, 63u, 64u, 65u, 80u, 127u, 128u, 129u, 200u}) {
        for (std::size_t at = 0; at <= size; ++at) {
            for (const std::string& piece : pieces) {
                std::string s(size, 'x');
                s.insert(at, piece);
                ASSERT_EQ(is_valid_utf8(s), reference_valid(s)) << size << " at " << at;
                // Twice, so that a run between two sequences is checked too.
                s.insert(s.size() - (size - at) / 2, piece);
                ASSERT_EQ(is_valid_utf8(s), reference_valid(s)) << size << " at " << at;
            }
        }
    }
}

TEST(Utf8, CountsScalarValues) {
    EXPECT_EQ(count_scalars(""), 0u);
    EXPECT_EQ(count_scalars("abc"), 3u);
    EXPECT_EQ(count_scalars("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), 3u);
}

}  // namespace
}  // namespace velmot
