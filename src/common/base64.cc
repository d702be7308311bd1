#include "common/base64.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/base64_avx2.h"

namespace velmot {
namespace {

constexpr char kPad = '=';

// The 6-bit value of an alphabet character, or -1.
constexpr int sextet(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Places a group's 24 bits so that one 4-byte store of the word puts its three
// bytes first in memory, whatever the byte order of the machine.
constexpr std::uint32_t as_stored_word(std::uint32_t group_bits) {
    if constexpr (std::endian::native == std::endian::little) {
        return ((group_bits >> 16) & 0xFF) | (group_bits & 0xFF00) | ((group_bits & 0xFF) << 16);
    } else {
        return group_bits << 8;
    }
}

// The bits of the word's fourth byte in memory, the scratch byte that the next
// group overwrites: the high byte on a little-endian machine, the low byte on a
// big-endian one. A character outside the alphabet sets them, so they must
// never hold a decoded byte.
constexpr std::uint32_t kInvalid =
    std::endian::native == std::endian::little ? 0xFF000000u : 0x000000FFu;
static_assert((as_stored_word(0xFFFFFF) & kInvalid) == 0);

// One table per position in a group: the character's contribution to the
// stored word, or a value with bits in the fourth byte for a character that is
// not in the alphabet. OR-ing four entries decodes a group; OR-ing all words
// tells whether any character was invalid.
using GroupTable = std::array<std::uint32_t, 256>;

constexpr GroupTable make_table(int position) {
    GroupTable table{};
    for (int c = 0; c < 256; ++c) {
        const int value = sextet(static_cast<unsigned char>(c));
        const int shift = 18 - 6 * position;
        table[c] =
            value < 0 ? kInvalid : as_stored_word(static_cast<std::uint32_t>(value) << shift);
    }
    return table;
}

constexpr std::array<GroupTable, 4> kTables = {make_table(0), make_table(1), make_table(2),
                                               make_table(3)};

inline std::uint32_t decode_group(const unsigned char* in) {
    return kTables[0][in[0]] | kTables[1][in[1]] | kTables[2][in[2]] | kTables[3][in[3]];
}

inline void store_word(unsigned char* out, std::uint32_t word) {
    std::memcpy(out, &word, sizeof word);
}

// Four independent groups per step keep the loads and stores in flight.
constexpr std::size_t kGroupsPerStep = 4;

// The wide path takes blocks of 8 groups, each storing 8 scratch bytes past
// its 24. Decoding in place, those land within the block's own 32
// characters, which it has already read, so every whole block can take it.
constexpr std::size_t kGroupsPerWideBlock = 8;

// Decodes `groups` full groups of four alphabet characters with the tables.
// Every group stores four bytes of which the fourth is scratch, overwritten
// by the next group; the caller guarantees one writable byte past the last
// group's three. Returns false if any character was not in the alphabet.
bool decode_groups_by_table(const unsigned char* in, std::size_t groups, unsigned char* out) {
    std::uint32_t seen = 0;
    std::size_t g = 0;
    for (; g + kGroupsPerStep <= groups; g += kGroupsPerStep) {
        const std::uint32_t w0 = decode_group(in);
        const std::uint32_t w1 = decode_group(in + 4);
        const std::uint32_t w2 = decode_group(in + 8);
        const std::uint32_t w3 = decode_group(in + 12);
        store_word(out, w0);
        store_word(out + 3, w1);
        store_word(out + 6, w2);
        store_word(out + 9, w3);
        seen |= w0 | w1 | w2 | w3;
        in += 4 * kGroupsPerStep;
        out += 3 * kGroupsPerStep;
    }
    for (; g < groups; ++g) {
        const std::uint32_t w = decode_group(in);
        store_word(out, w);
        seen |= w;
        in += 4;
        out += 3;
    }
    return (seen & kInvalid) == 0;
}

// Decodes `groups` full groups in place, as `decode_groups_by_table` does,
// whole blocks of 8 through the wide path where the processor has one: the
// table loop takes about three instructions a character, the wide path under
// one. The text goes on past the full groups.
bool decode_full_groups(unsigned char* text, std::size_t groups) {
    std::size_t done = 0;
    if (groups >= kGroupsPerWideBlock && avx2_available()) {
        const std::size_t blocks = groups / kGroupsPerWideBlock;
        if (!avx2_decode_blocks(text, blocks, text)) return false;
        done = blocks * kGroupsPerWideBlock;
    }
    return decode_groups_by_table(text + 4 * done, groups - done, text + 3 * done);
}

// The number of pad characters a text of whole groups ends with, judged from
// its last two characters only; where else a pad may not stand is checked by
// the alphabet tables, which treat "=" as invalid.
std::size_t pad_count(std::string_view text) {
    if (text.back() != kPad) return 0;
    return text[text.size() - 2] == kPad ? 2 : 1;
}

// The 6-bit value of every byte, -1 outside the alphabet: the last group is
// decoded a character at a time, by table rather than by comparisons.
constexpr std::array<std::int8_t, 256> kSextets = [] {
    std::array<std::int8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = static_cast<std::int8_t>(sextet(static_cast<unsigned char>(c)));
    return table;
}();

// Decodes the last group, which may end in pads, into its 1 to 3 bytes.
// Canonical text leaves no set bits in the part of the last character that
// does not reach a byte.
bool decode_last_group(const unsigned char* in, std::size_t pads, unsigned char* out) {
    const int a = kSextets[in[0]];
    const int b = kSextets[in[1]];
    const int c = pads >= 2 ? 0 : kSextets[in[2]];
    const int d = pads >= 1 ? 0 : kSextets[in[3]];
    if ((a | b | c | d) < 0) return false;
    if (pads == 2 && (b & 0x0F) != 0) return false;
    if (pads == 1 && (c & 0x03) != 0) return false;
    const auto bits = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
    out[0] = static_cast<unsigned char>(bits >> 16);
    if (pads < 2) out[1] = static_cast<unsigned char>(bits >> 8);
    if (pads < 1) out[2] = static_cast<unsigned char>(bits);
    return true;
}

// Decodes a non-empty text of whole groups ending in `pads` pads, in place:
// output group g lands at 3g, never past input group g at 4g, and each group
// is loaded before it is stored.
bool decode_groups(std::span<char> text, std::size_t pads) {
    auto* const bytes = reinterpret_cast<unsigned char*>(text.data());
    const std::size_t last = text.size() / 4 - 1;
    // The last group yields at least one byte, which is the room the full
    // groups' 4-byte stores need past their own three.
    if (!decode_full_groups(bytes, last)) return false;
    return decode_last_group(bytes + 4 * last, pads, bytes + 3 * last);
}

}  // namespace

std::optional<std::span<char>> base64_decode_in_place(std::span<char> text) {
    if (text.empty()) return text;
    // The length and padding must be able to be canonical; the characters
    // themselves are checked while decoding.
    if (text.size() % 4 != 0) return std::nullopt;
    const std::size_t pads = pad_count({text.data(), text.size()});
    if (!decode_groups(text, pads)) return std::nullopt;
    return text.first(text.size() / 4 * 3 - pads);
}

}  // namespace velmot
