// Base64 decoding accepts exactly the canonical padded texts of the standard
// alphabet. The properties are checked against a plain reference encoder: a
// text is accepted if and only if it is the encoding of some bytes.

#include "common/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include "support/bridge_frames.h"

namespace velmot {
namespace {

constexpr std::string_view kAlphabet = kBase64Alphabet;

std::string encode(std::string_view bytes) {
    return testing::base64_encode(bytes);
}

// Decodes a copy of `text` in place: the decoded bytes, or nullopt.
std::optional<std::string> base64_decode(std::string text) {
    const std::optional<std::span<char>> bytes = base64_decode_in_place(text);
    if (!bytes) return std::nullopt;
    return std::string(bytes->data(), bytes->size());
}

std::string random_bytes(std::mt19937& rng, std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

bool in_alphabet(char c) {
    return kAlphabet.find(c) != std::string_view::npos;
}

using namespace std::string_literals;

TEST(Base64Test, DecodesCanonicalTexts) {
    const struct {
        std::string text;
        std::string bytes;
    } cases[] = {
        {"", ""},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        {"AA==", "\0"s},
        {"AAAA", "\0\0\0"s},
        {"+/+/", "\xFB\xFF\xBF"},
        {"/w==", "\xFF"},
        {"aGVsbG8K", "hello\n"},
        // Every bit of a full group's three bytes set: the mark for a character
        // outside the alphabet must lie in the word's fourth byte in memory on
        // either byte order (it once took the first byte on big-endian ones).
        {"////AA==", "\xFF\xFF\xFF\0"s},
        {"QUJDREVGR0hJSktMTU5PUFFSUw==", "ABCDEFGHIJKLMNOPQRS"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64_decode(c.text), c.bytes) << c.text;
    }
}

TEST(Base64Test, RefusesNonCanonicalTexts) {
    const std::string refused[] = {
        "QQ",                 // pads missing
        "QQ=",                // one pad too few
        "QQ===",              // one pad too many
        "QUJDQ",              // a last group of one character
        "Q===",               // pads after a single character
        "====",               // nothing but pads
        "=QQ=",               // pad first
        "QQ=A",               // pad followed by a character
        "Q=Q=",               // pad inside the last group
        "QQ==QQ==",           // pads in an earlier group
        "QR==",               // stray bits under two pads
        "QUJ=",               // stray bits under one pad
        "QQ==\n",             // trailing line feed
        "\nQQ==",             // leading line feed
        "QQ==\r\n",           // trailing CR LF
        "QU I",               // space
        "QU\tI",              // tab
        "-_-_",               // URL-safe alphabet
        "QQ\xC3\xA9",         // non-ASCII
        "\x80QQQ",            // high byte
        "QUJ\0"s,             // NUL
        "QUJDQUJDQUJDQUJDQ",  // long text with a one-character tail
    };
    for (const auto& text : refused) {
        EXPECT_EQ(base64_decode(text), std::nullopt) << text;
    }
}

// Every byte value in every position of a text long enough to reach the
// multi-group loop, its tail and the last group: only alphabet characters
// are accepted.
TEST(Base64Test, AcceptsOnlyAlphabetBytesInEveryPosition) {
    std::mt19937 rng(7);
    const std::string original = encode(random_bytes(rng, 3 * 23));
    for (std::size_t pos = 0; pos < original.size(); ++pos) {
        for (int b = 0; b < 256; ++b) {
            // A pad in the last two places can be canonical; that case has a
            // test of its own below.
            if (b == '=' && pos + 2 >= original.size()) continue;
            std::string text = original;
            text[pos] = static_cast<char>(b);
            const bool accepted = base64_decode(text).has_value();
            ASSERT_EQ(accepted, in_alphabet(text[pos])) << "position " << pos << " byte " << b;
        }
    }
}

// The last group with pads, exhaustively: accepted exactly when it is the
// encoding of one or two bytes.
TEST(Base64Test, PaddedLastGroupIsAcceptedExactlyWhenCanonical) {
    std::unordered_set<std::string> canonical;
    for (int a = 0; a < 256; ++a) {
        canonical.insert(encode(std::string(1, static_cast<char>(a))));
        for (int b = 0; b < 256; ++b) {
            canonical.insert(encode(std::string{static_cast<char>(a), static_cast<char>(b)}));
        }
    }
    const std::string symbols = std::string(kAlphabet) + "=-_ \n\x80";
    for (const char x : symbols) {
        for (const char y : symbols) {
            for (const char z : symbols) {
                for (const std::string& text :
                     {std::string{x, y, z, '='}, std::string{x, y, '=', z}}) {
                    const std::string prefixed = "QUJD" + text;
                    const bool expected = canonical.count(text) == 1;
                    ASSERT_EQ(base64_decode(text).has_value(), expected) << text;
                    ASSERT_EQ(base64_decode(prefixed).has_value(), expected) << prefixed;
                }
            }
        }
    }
}

TEST(Base64Test, RoundTripsRandomBytesOfEveryLength) {
    std::mt19937 rng(1);
    for (std::size_t size = 0; size <= 300; ++size) {
        for (int round = 0; round < 8; ++round) {
            const std::string bytes = random_bytes(rng, size);
            ASSERT_EQ(base64_decode(encode(bytes)), bytes) << "size " << size;
        }
    }
}

// Mutating canonical texts: whatever is still accepted must re-encode to
// exactly the text that was decoded.
TEST(Base64Test, EveryAcceptedTextReencodesToItself) {
    std::mt19937 rng(2);
    const std::string symbols = std::string(kAlphabet) + "=";
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text = encode(random_bytes(rng, rng() % 40));
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            text[rng() % text.size()] = symbols[rng() % symbols.size()];
        }
        if (rng() % 8 == 0)
            text.resize(text.size() - std::min<std::size_t>(text.size(), rng() % 3));
        if (const auto decoded = base64_decode(text)) {
            ++accepted;
            ASSERT_EQ(encode(*decoded), text);
        }
    }
    EXPECT_GT(accepted, 1000);  // the mutations leave enough valid texts to mean something
}

}  // namespace
}  // namespace velmot
