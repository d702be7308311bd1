// The block scan, the word scan and a byte-by-byte reference must find the
// same first byte of each class, wherever it stands and whatever the
// alignment, in short runs and in runs long enough for the widest steps.

#include "common/byte_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace velmot::byte_scan {
namespace {

bool is_string_stop(unsigned char c) {
    return c == '"' || c == '\\' || c < 0x20 || c >= 0x80;
}
bool is_non_ascii(unsigned char c) {
    return c >= 0x80;
}

template <class Class, std::size_t kLeadBlocks>
void expect_all_agree(std::string_view s, bool (*reference)(unsigned char)) {
    std::size_t expected = 0;
    while (expected < s.size() && !reference(static_cast<unsigned char>(s[expected])))
        ++expected;
    ASSERT_EQ((find_first<Class, kLeadBlocks>(s.data(), s.size())), expected) << s;
    ASSERT_EQ(find_first_by_words<Class>(s.data(), s.size()), expected) << s;
}

template <class Class>
void check_class(const std::string& found, bool (*reference)(unsigned char)) {
    std::mt19937_64 rng(20240611);
    // Bytes next to each class's edges on both sides.
    const std::string near("\x1f\x20!#[]\x7f\x80\xff\x9f\xe0\0", 12);
    for (int round = 0; round < 20'000; ++round) {
        const std::size_t size = rng() % 700;
        std::string s(size + 7, 'a');
        for (char& c : s)
            c = rng() % 4 == 0 ? near[rng() % near.size()] : static_cast<char>('A' + rng() % 26);
        if (rng() % 2 == 0) {  // mostly runs without any byte of the class
            for (char& c : s) {
                if (reference(static_cast<unsigned char>(c))) c = 'z';
            }
            if (size > 0) s[rng() % (size + 7)] = found[rng() % found.size()];
        }
        const std::string_view view = std::string_view(s).substr(rng() % 7, size);
        expect_all_agree<Class, 0>(view, reference);
        expect_all_agree<Class, 3>(view, reference);
    }
    for (const char c : found) {
        for (std::size_t at = 0; at <= 600; ++at) {
            std::string s(600, 'x');
            if (at < s.size()) s[at] = c;
            expect_all_agree<Class, 0>(s, reference);
            expect_all_agree<Class, 3>(s, reference);
        }
    }
}

TEST(ByteScan, StringStopsAgree) {
    check_class<StringStop>(std::string("\"\\\n\t\x01\x1f\x80\xff", 8) + '\0', is_string_stop);
}

TEST(ByteScan, NonAsciiBytesAgree) {
    check_class<NonAscii>("\x80\xc3\xff\xe2", is_non_ascii);
}

}  // namespace
}  // namespace velmot::byte_scan
