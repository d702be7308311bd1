// Trimming of Unicode white space: every character with the White_Space
// property goes from either end, its near neighbours in the code charts stay,
// and nothing inside the text is touched.

#include "common/white_space.h"

#include <gtest/gtest.h>

#include <string>

namespace velmot {
namespace {

const char* const kWhiteSpace[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xc2\x85",     "\xc2\xa0",     "\xe1\x9a\x80", "\xe2\x80\x80", "\xe2\x80\x81", "\xe2\x80\x82",
    "\xe2\x80\x83", "\xe2\x80\x84", "\xe2\x80\x85", "\xe2\x80\x86", "\xe2\x80\x87", "\xe2\x80\x88",
    "\xe2\x80\x89", "\xe2\x80\x8a", "\xe2\x80\xa8", "\xe2\x80\xa9", "\xe2\x80\xaf", "\xe2\x81\x9f",
    "\xe3\x80\x80"};

// Neighbours without the property: U+0008, U+000E, U+001F, U+0084, U+00A1,
// U+180E, U+200B, U+2027, U+202A, U+205E, U+2060, U+3001, U+FEFF, U+1680's
// neighbour U+1681.
const char* const kNotWhiteSpace[] = {
    "\x08",         "\x0e",         "\x1f",         "\xc2\x84",     "\xc2\xa1",
    "\xe1\xa0\x8e", "\xe2\x80\x8b", "\xe2\x80\xa7", "\xe2\x80\xaa", "\xe2\x81\x9e",
    "\xe2\x81\xa0", "\xe3\x80\x81", "\xef\xbb\xbf", "\xe1\x9a\x81"};

TEST(WhiteSpace, EveryWhiteSpaceCharacterIsTrimmedFromBothEnds) {
    for (const char* space : kWhiteSpace) {
        SCOPED_TRACE(space);
        const std::string s = space;
        EXPECT_EQ(trim_white_space(s + s + "a" + s + "b" + s + s), "a" + s + "b");
        EXPECT_EQ(trim_trailing_white_space(s + "a" + s), s + "a");
        EXPECT_EQ(trim_white_space(s + s), "");
    }
}

TEST(WhiteSpace, NeighboursStay) {
    for (const char* other : kNotWhiteSpace) {
        SCOPED_TRACE(other);
        const std::string s = other;
        EXPECT_EQ(trim_white_space(" " + s + "a" + s + " "), s + "a" + s);
        EXPECT_EQ(trim_trailing_white_space("a" + s + "\n"), "a" + s);
    }
}

// The last bytes of a longer character can look like the end of a shorter
// white-space character; only whole characters are trimmed.
TEST(WhiteSpace, OnlyWholeCharactersAreTrimmed) {
    EXPECT_EQ(trim_trailing_white_space("a\xe2\x82\xa0"), "a\xe2\x82\xa0");  // U+20A0
    EXPECT_EQ(trim_trailing_white_space("a\xe2\x80\x80"), "a");              // U+2000
    EXPECT_EQ(trim_white_space(""), "");
}

}  // namespace
}  // namespace velmot
