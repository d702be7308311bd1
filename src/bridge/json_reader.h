// A strict JSON reader for bridge frame lines. It reads one line held in the
// caller's mutable storage, token by token and value by value: the frame
// decoder drives the outer structure and asks for strings, small unsigned
// numbers or whole values to be checked and dropped. Every read skips the
// whitespace before its token. Nothing is allocated.
//
// Strings are decoded in place: a string with escapes has its decoded bytes
// written over its own content in the line (decoded text is never longer than
// its escaped form), and the result is a view of them; the bytes left over
// between the decoded text and the closing quotation mark become spaces, so
// that the line stays valid UTF-8 exactly where it was before. Only
// `read_string` writes; `read_name` and `skip_value` leave the line as it
// was, so that a first look at a line does not change what a second reading
// sees.
//
// The rules: whitespace is exactly space, tab, line feed and carriage return;
// strings reject raw bytes below 0x20 and lone surrogate escapes; numbers
// follow the JSON grammar, and one that is not written with digits only (or
// does not fit in 64 bits) must be finite in double precision (one too small
// becomes zero and passes); containers nest at most kMaxFrameNesting levels.
// The content of every string must be valid UTF-8, which the scan for its end
// checks on the way; every token outside strings is ASCII. So a line read
// without a failure is valid UTF-8 throughout, and the reader needs no
// separate check of the line. Every rule violation is a failed read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "common/byte_scan.h"
#include "common/limits.h"

namespace velmot {

class JsonReader {
  public:
    explicit JsonReader(std::span<char> text) noexcept
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    // Whether only whitespace is left.
    bool at_end() noexcept {
        skip_whitespace();
        return p_ == end_;
    }
    // Whether the next token starts with `c`.
    bool next_is(char c) noexcept {
        if (p_ != end_ && *p_ == c) return true;
        skip_whitespace();
        return p_ != end_ && *p_ == c;
    }
    // Takes the next token if it is the single byte `c`.
    bool consume(char c) noexcept {
        if (!next_is(c)) return false;
        ++p_;
        return true;
    }
    // Takes the next bytes if they are exactly `"<name>"`, with `name` free of
    // bytes that a string would escape, so that they are the string `name`:
    // how a bridge writes its keys, tags and channel names. A string whose
    // value is expected is thus matched without being read as a string.
    bool consume_quoted(std::string_view name) noexcept {
        const std::size_t n = name.size();
        if (static_cast<std::size_t>(end_ - p_) < n + 2 || p_[0] != '"' || p_[n + 1] != '"' ||
            std::memcmp(p_ + 1, name.data(), n) != 0) {
            return false;
        }
        p_ += n + 2;
        return true;
    }
    // Where the reader stands, counted from the start of the text, and a
    // return to a place this reader or a copy of it reached before.
    std::size_t position() const noexcept { return static_cast<std::size_t>(p_ - begin_); }
    void seek(std::size_t position) noexcept { p_ = begin_ + position; }

    // Takes "{" or "[" and counts one nesting level; fails beyond the limit.
    [[nodiscard]] bool open(char bracket) noexcept {
        return consume(bracket) && (++depth_ <= kMaxFrameNesting || too_deep());
    }
    void close() noexcept { --depth_; }

    // The next token must be a string. Its content is decoded in place; the
    // result views the decoded bytes, which start where the content did.
    std::optional<std::span<char>> read_string() noexcept {
        if (!consume('"')) return std::nullopt;
        char* const start = p_;
        char* const stop = string_stop(start);
        if (stop != end_ && *stop == '"') {  // no escape: the common case
            p_ = stop + 1;
            return std::span<char>(start, stop);
        }
        return decode_rest_of_string(start, stop);
    }

    // Room for decoding a string that is compared with short names.
    using NameBuffer = std::array<char, 128>;
    // The next token must be a string; its decoded content, for comparing
    // with names of at most 21 bytes, without writing to the line. A string
    // with escapes is decoded into `buffer`, unless its escaped form is too
    // long to fit: it then decodes to more than 21 bytes, so its raw content,
    // just as unequal to every such name, stands in for it.
    std::optional<std::string_view> read_name(NameBuffer& buffer) noexcept {
        if (!consume('"')) return std::nullopt;
        char* const start = p_;
        char* const stop = string_stop(start);
        if (stop != end_ && *stop == '"') {
            p_ = stop + 1;
            return std::string_view(start, stop);
        }
        return name_with_escapes(start, stop, buffer);
    }

    // The next value as an unsigned 8-bit number: written with digits only
    // and worth at most 255. Fails on every other value, well-formed or not,
    // for callers that refuse anything else anyway.
    std::optional<std::uint8_t> read_u8() noexcept {
        if (!next_is_digit()) return std::nullopt;
        char* p = p_;
        unsigned value = static_cast<unsigned>(*p++ - '0');
        if (value != 0) {  // a leading 0 stands alone; what follows it is not this number
            for (; p != end_ && is_digit(*p); ++p) {
                value = value * 10 + static_cast<unsigned>(*p - '0');
                if (value > 255) return std::nullopt;
            }
        }
        // A fraction or an exponent makes it a number of another kind.
        if (p != end_ && (*p == '.' || *p == 'e' || *p == 'E')) return std::nullopt;
        p_ = p;
        return static_cast<std::uint8_t>(value);
    }

    // Reads one complete value of any type under the rules and drops it.
    [[nodiscard]] bool skip_value() noexcept;

  private:
    // Notes a container that opens one level too many; always false.
    bool too_deep() const noexcept;
    static bool is_whitespace(char c) noexcept {
        constexpr std::uint64_t kSet = 1ull << ' ' | 1ull << '\t' | 1ull << '\n' | 1ull << '\r';
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' && ((kSet >> byte) & 1) != 0;
    }
    static bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
    bool next_is_digit() noexcept {
        if (p_ != end_ && is_digit(*p_)) return true;
        skip_whitespace();
        return p_ != end_ && is_digit(*p_);
    }
    void skip_whitespace() noexcept {
        while (p_ != end_ && is_whitespace(*p_))
            ++p_;
    }
    // The first byte from `from` on that ends plain string content: a
    // quotation mark, a backslash, a byte below 0x20 or the start of bytes
    // that are not UTF-8; `end_` if none does. Most strings of a frame are
    // keys and names, settled by the first few blocks before the scan turns
    // to 64 bytes a step; most hold only ASCII.
    char* string_stop(char* from) const noexcept {
        char* const stop = plain_ascii_end(from);
        if (stop != end_ && static_cast<unsigned char>(*stop) >= 0x80) return stop_after_utf8(stop);
        return stop;
    }
    char* plain_ascii_end(char* from) const noexcept {
        constexpr std::size_t kLeadBlocks = 3;
        return from + byte_scan::find_first<byte_scan::StringStop, kLeadBlocks>(
                          from, static_cast<std::size_t>(end_ - from));
    }
    char* stop_after_utf8(char* from) const noexcept;
    std::optional<std::span<char>> decode_rest_of_string(char* start, char* stop) noexcept;
    std::optional<std::string_view> name_with_escapes(char* start, char* stop,
                                                      NameBuffer& buffer) noexcept;
    template <bool kDecode>
    char* rest_after_escape(char* backslash) noexcept;
    template <bool kDecode>
    bool escape(char*& out) noexcept;
    template <bool kDecode>
    bool unicode_escape(char*& out) noexcept;
    bool hex_unit(std::uint32_t& unit) noexcept;
    bool skip_string() noexcept;
    bool skip_array() noexcept;
    bool skip_object() noexcept;
    bool skip_number() noexcept;
    bool literal(std::string_view word) noexcept;

    char* begin_;
    char* p_;
    char* end_;
    std::size_t depth_ = 0;
};

}  // namespace velmot
