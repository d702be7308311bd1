// The wide Base64 path against the encoder and against the table path: whole
// blocks decode to what was encoded, every non-alphabet byte in every place
// of a block is refused, and long texts (where the decoder uses the wide
// path for their middle) decode exactly as their short pieces do, which only
// the table path handles.

#include "common/base64_avx2.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "common/base64.h"
#include "support/bridge_frames.h"

namespace velmot {
namespace {

constexpr std::string_view kAlphabet = kBase64Alphabet;
constexpr std::size_t kBlockChars = 32;
constexpr std::size_t kBlockBytes = 24;
constexpr std::size_t kScratchBytes = 8;

std::string random_bytes(std::mt19937& rng, std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

const unsigned char* bytes_of(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

unsigned char* bytes_of(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

TEST(Base64Avx2, BlocksDecodeToWhatWasEncodedAlsoInPlace) {
    if (!avx2_available()) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(11);
    for (std::size_t blocks = 1; blocks <= 24; ++blocks) {
        const std::string bytes = random_bytes(rng, blocks * kBlockBytes);
        const std::string text = testing::base64_encode(bytes);
        ASSERT_EQ(text.size(), blocks * kBlockChars);
        std::string out(bytes.size() + kScratchBytes, '\0');
        ASSERT_TRUE(avx2_decode_blocks(bytes_of(text), blocks, bytes_of(out)));
        EXPECT_EQ(out.substr(0, bytes.size()), bytes) << blocks;
        std::string in_place = text;
        ASSERT_TRUE(avx2_decode_blocks(bytes_of(in_place), blocks, bytes_of(in_place)));
        EXPECT_EQ(in_place.substr(0, bytes.size()), bytes) << blocks;
    }
}

TEST(Base64Avx2, RefusesEveryNonAlphabetByteInEveryPlace) {
    if (!avx2_available()) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(12);
    const std::string original = testing::base64_encode(random_bytes(rng, 2 * kBlockBytes));
    for (std::size_t pos = 0; pos < original.size(); ++pos) {
        for (int b = 0; b < 256; ++b) {
            std::string text = original;
            text[pos] = static_cast<char>(b);
            std::string out(2 * kBlockBytes + kScratchBytes, '\0');
            const bool in_alphabet = kAlphabet.find(text[pos]) != std::string_view::npos;
            ASSERT_EQ(avx2_decode_blocks(bytes_of(text), 2, bytes_of(out)), in_alphabet)
                << "position " << pos << " byte " << b;
        }
    }
}

// Pieces of at most 40 characters (9 full groups and a last one) stay below
// the size where the decoder takes the wide path. A text is canonical when
// its pieces are, except that a pad may only end the last piece.
std::optional<std::string> decode_in_short_pieces(std::string_view text) {
    constexpr std::size_t kPieceChars = 40;
    std::string bytes;
    for (std::size_t at = 0; at < text.size(); at += kPieceChars) {
        const std::string_view piece = text.substr(at, kPieceChars);
        const bool last = at + kPieceChars >= text.size();
        if (!last && piece.find('=') != std::string_view::npos) return std::nullopt;
        std::string decoded(piece);
        const std::optional<std::span<char>> piece_bytes = base64_decode_in_place(decoded);
        if (!piece_bytes) return std::nullopt;
        bytes.append(piece_bytes->data(), piece_bytes->size());
    }
    return bytes;
}

TEST(Base64Avx2, LongTextsDecodeAsTheirShortPiecesDo) {
    std::mt19937 rng(13);
    // Characters that break each rule somewhere: pads, stray bits in the last
    // group (any alphabet character), white space, the URL-safe alphabet and
    // bytes outside ASCII.
    const std::string edits = std::string(kAlphabet) + "==== \n-_\x80\xff";
    int accepted = 0;
    for (int round = 0; round < 20'000; ++round) {
        std::string text = testing::base64_encode(random_bytes(rng, rng() % 400));
        for (int e = static_cast<int>(rng() % 3); e > 0 && !text.empty(); --e) {
            // Half the edits fall into the last two groups, where the
            // canonical-text rules are decided.
            const std::size_t span =
                rng() % 2 ? text.size() : std::min<std::size_t>(8, text.size());
            text[text.size() - 1 - rng() % span] = edits[rng() % edits.size()];
        }
        if (rng() % 16 == 0)
            text.resize(text.size() - std::min<std::size_t>(text.size(), rng() % 3));
        const std::optional<std::string> pieces = decode_in_short_pieces(text);
        const std::optional<std::span<char>> whole = base64_decode_in_place(text);
        ASSERT_EQ(whole.has_value(), pieces.has_value()) << text;
        if (whole) {
            ASSERT_EQ(std::string_view(whole->data(), whole->size()), *pieces);
        }
        accepted += whole.has_value();
    }
    EXPECT_GT(accepted, 5'000);
}

}  // namespace
}  // namespace velmot
