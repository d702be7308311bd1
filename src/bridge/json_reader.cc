#include "bridge/json_reader.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "common/limits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmot {
namespace {

// ---- Wide scan for the end of plain string content ----

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

std::uint64_t load64(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Sets the high bit of every byte of `v` that is a quotation mark, a
// backslash or below 0x20. A borrow can also mark bytes above a true match,
// never below one, so the lowest marked byte is always exact.
std::uint64_t swar_stops(std::uint64_t v) noexcept {
    const std::uint64_t quote = v ^ (kOnes * '"');
    const std::uint64_t backslash = v ^ (kOnes * '\\');
    const std::uint64_t zero_quote = (quote - kOnes) & ~quote;
    const std::uint64_t zero_backslash = (backslash - kOnes) & ~backslash;
    const std::uint64_t control = (v - kOnes * 0x20) & ~v;
    return (zero_quote | zero_backslash | control) & kHighBits;
}

#if defined(__SSE2__)
// All ones in each of the 16 bytes at `p` that is a stop.
__m128i sse2_stop_bytes(const char* p) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
    // Unsigned v <= 0x1F exactly when min(v, 0x1F) == v.
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
    return _mm_or_si128(_mm_or_si128(quote, backslash), control);
}

int sse2_stop_mask(const char* p) noexcept {
    return _mm_movemask_epi8(sse2_stop_bytes(p));
}

// Whether the 64 bytes at `p` hold no stop.
bool sse2_quad_is_plain(const char* p) noexcept {
    const __m128i low = _mm_or_si128(sse2_stop_bytes(p), sse2_stop_bytes(p + 16));
    const __m128i high = _mm_or_si128(sse2_stop_bytes(p + 32), sse2_stop_bytes(p + 48));
    return _mm_movemask_epi8(_mm_or_si128(low, high)) == 0;
}

std::size_t first_stop_in(int mask) noexcept {
    return static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
}

// Whether one of the blocks of 16 bytes from `i` (at most `blocks`, and only
// whole ones) holds a stop; `i` ends at the block with the stop or after the
// last block checked.
bool sse2_blocks_hold_stop(const char* p, std::size_t n, std::size_t& i, std::size_t blocks,
                           int& mask) noexcept {
    for (; blocks > 0 && i + 16 <= n; --blocks, i += 16) {
        mask = sse2_stop_mask(p + i);
        if (mask != 0) return true;
    }
    return false;
}

// The scan for texts of at least 16 bytes. Most strings of a frame are keys,
// names and short chunks: they are settled block by block before the loop
// over 64 bytes at a time starts. The last bytes are covered by one block that
// overlaps checked ones, whose bits are clear since they held no stop.
std::size_t sse2_find_stop(const char* p, std::size_t n) noexcept {
    constexpr std::size_t kBlocksBeforeWideLoop = 4;
    std::size_t i = 0;
    int mask = 0;
    if (sse2_blocks_hold_stop(p, n, i, kBlocksBeforeWideLoop, mask)) return i + first_stop_in(mask);
    while (i + 64 <= n && sse2_quad_is_plain(p + i))
        i += 64;
    if (sse2_blocks_hold_stop(p, n, i, SIZE_MAX, mask)) return i + first_stop_in(mask);
    if (i < n) {
        mask = sse2_stop_mask(p + n - 16);
        if (mask != 0) return n - 16 + first_stop_in(mask);
    }
    return n;
}
#endif

bool is_stop(char c) noexcept {
    return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
}

// ---- Numbers ----

// A number's shape, from one left-to-right pass over its grammar.
struct NumberShape {
    std::size_t end = 0;  // one past the last byte of the number
    bool digits_only = true;
    std::size_t int_begin = 0, int_end = 0;
    std::size_t frac_begin = 0, frac_end = 0;
    std::int64_t exponent = 0;  // as written, saturated far beyond any double
};

constexpr std::int64_t kExponentCap = 1'000'000'000'000'000;

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

std::size_t skip_digits(std::string_view t, std::size_t i) noexcept {
    while (i < t.size() && is_digit(t[i]))
        ++i;
    return i;
}

// Reads the exponent's digits starting at `i`; false if there are none.
bool scan_exponent(std::string_view t, std::size_t& i, NumberShape& shape) noexcept {
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    if (i >= t.size() || !is_digit(t[i])) return false;
    std::int64_t value = 0;
    for (; i < t.size() && is_digit(t[i]); ++i) {
        value = value >= kExponentCap ? kExponentCap : value * 10 + (t[i] - '0');
    }
    shape.exponent = negative ? -value : value;
    return true;
}

std::optional<NumberShape> scan_number(std::string_view t, std::size_t i) {
    NumberShape shape;
    if (i < t.size() && t[i] == '-') {
        shape.digits_only = false;
        ++i;
    }
    if (i >= t.size() || !is_digit(t[i])) return std::nullopt;
    shape.int_begin = i;
    i = t[i] == '0' ? i + 1 : skip_digits(t, i);
    shape.int_end = i;
    if (i < t.size() && t[i] == '.') {
        shape.digits_only = false;
        shape.frac_begin = ++i;
        i = skip_digits(t, i);
        if (i == shape.frac_begin) return std::nullopt;
        shape.frac_end = i;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        shape.digits_only = false;
        if (!scan_exponent(t, ++i, shape)) return std::nullopt;
    }
    shape.end = i;
    return shape;
}

std::optional<std::uint64_t> exact_unsigned(std::string_view digits) noexcept {
    std::uint64_t value = 0;
    for (char c : digits) {
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - d) / 10) return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

// Whether a value that double precision cannot hold is too large (rather than
// too small): the decimal exponent of its first significant digit decides,
// since such values lie beyond 10^308 or below 10^-307.
bool beyond_largest(std::string_view t, const NumberShape& shape) noexcept {
    for (std::size_t i = shape.int_begin; i < shape.int_end; ++i) {
        if (t[i] != '0') {
            return static_cast<std::int64_t>(shape.int_end - 1 - i) + shape.exponent > 0;
        }
    }
    for (std::size_t i = shape.frac_begin; i < shape.frac_end; ++i) {
        if (t[i] != '0')
            return shape.exponent - static_cast<std::int64_t>(i - shape.frac_begin) > 0;
    }
    return false;  // a zero significand stays zero
}

std::optional<double> finite_double(std::string_view t, std::size_t begin,
                                    const NumberShape& shape) {
    double value = 0;
    const char* first = t.data() + begin;
    const char* last = t.data() + shape.end;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ptr != last) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        if (beyond_largest(t, shape)) return std::nullopt;
        return *first == '-' ? -0.0 : 0.0;
    }
    if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// ---- Strings ----

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The single character a short escape stands for, or 0 if `c` names none.
char short_escape(char c) noexcept {
    switch (c) {
        case '"':
            return '"';
        case '\\':
            return '\\';
        case '/':
            return '/';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            return 0;
    }
}

// Where the string whose content starts at `from` ends: the index of its
// closing quotation mark, with escapes stepped over but not checked. Fails on
// a raw control byte or the end of the text. Lets a decoded text be sized
// once, so it never holds more than the raw string's length.
std::optional<std::size_t> closing_quote(std::string_view t, std::size_t from) noexcept {
    std::size_t i = from;
    while (true) {
        i += find_string_stop(t.substr(i));
        if (i >= t.size()) return std::nullopt;
        if (t[i] == '"') return i;
        if (t[i] != '\\' || i + 1 >= t.size()) return std::nullopt;
        i += 2;
    }
}

}  // namespace

std::size_t find_string_stop(std::string_view bytes) noexcept {
    const char* p = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) return sse2_find_stop(p, n);
#endif
    // Short texts, and every text where SSE2 is missing: words, then bytes.
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            const std::uint64_t stops = swar_stops(load64(p + i));
            if (stops != 0) return i + static_cast<std::size_t>(std::countr_zero(stops)) / 8;
        }
    }
    while (i < n && !is_stop(p[i]))
        ++i;
    return i;
}

bool JsonReader::open(char bracket) noexcept {
    if (!consume(bracket)) return false;
    return ++depth_ <= kMaxFrameNesting;
}

std::optional<JsonText> JsonReader::read_string() {
    JsonText text;
    if (!next_is('"') || !string(&text)) return std::nullopt;
    return text;
}

std::optional<std::uint64_t> JsonReader::read_exact_unsigned() {
    const auto shape = scan_number(text_, pos_);
    if (!shape || !shape->digits_only) return std::nullopt;
    const auto exact = exact_unsigned(text_.substr(pos_, shape->end - pos_));
    if (exact) pos_ = shape->end;
    return exact;
}

std::optional<BufferedValue> JsonReader::read_value() {
    BufferedValue value;
    if (!this->value(&value)) return std::nullopt;
    return value;
}

bool JsonReader::skip_value() {
    return value(nullptr);
}

bool JsonReader::value(BufferedValue* out) {
    if (at_end()) return false;
    switch (text_[pos_]) {
        case '{':
            return object(out);
        case '[':
            return array(out);
        case '"': {
            JsonText* text = out ? &out->data.emplace<JsonText>() : nullptr;
            return string(text);
        }
        case 't':
            if (out) out->data = true;
            return literal("true");
        case 'f':
            if (out) out->data = false;
            return literal("false");
        case 'n':
            if (out) out->data = JsonNull{};
            return literal("null");
        default:
            return number(out);
    }
}

bool JsonReader::array(BufferedValue* out) {
    if (!open('[')) return false;
    BufferedValue::Array elements;
    skip_whitespace();
    if (!consume(']')) {
        do {
            skip_whitespace();
            if (!value(out ? &elements.emplace_back() : nullptr)) return false;
            skip_whitespace();
        } while (consume(','));
        if (!consume(']')) return false;
    }
    close();
    if (out) out->data = std::move(elements);
    return true;
}

bool JsonReader::object(BufferedValue* out) {
    if (!open('{')) return false;
    BufferedValue::Object members;
    skip_whitespace();
    if (!consume('}') && !members_then_brace(out ? &members : nullptr)) return false;
    close();
    if (out) out->data = std::move(members);
    return true;
}

bool JsonReader::members_then_brace(BufferedValue::Object* members) {
    do {
        skip_whitespace();
        BufferedMember* member = members ? &members->emplace_back() : nullptr;
        if (!next_is('"') || !string(member ? &member->key : nullptr)) return false;
        skip_whitespace();
        if (!consume(':')) return false;
        skip_whitespace();
        if (!value(member ? &member->value : nullptr)) return false;
        skip_whitespace();
    } while (consume(','));
    return consume('}');
}

bool JsonReader::skip_members() {
    if (!members_then_brace(nullptr)) return false;
    close();
    return true;
}

bool JsonReader::string(JsonText* out) {
    const std::size_t start = ++pos_;  // past the opening quotation mark
    const std::size_t stop = start + find_string_stop(text_.substr(start));
    if (stop >= text_.size()) return false;
    if (text_[stop] == '"') {
        if (out) *out = JsonText(text_.substr(start, stop - start));
        pos_ = stop + 1;
        return true;
    }
    if (text_[stop] != '\\') return false;  // a raw control character
    pos_ = stop;
    return string_with_escapes(start, out);
}

// Continues a string at its first backslash. Decodes into an owned text when
// the caller keeps the value; otherwise only checks the escapes.
bool JsonReader::string_with_escapes(std::size_t start, JsonText* out) {
    std::string decoded;
    if (out) {
        const auto end = closing_quote(text_, pos_);
        if (!end) return false;
        decoded.reserve(*end - start);
        decoded.append(text_.substr(start, pos_ - start));
    }
    std::string* sink = out ? &decoded : nullptr;
    while (true) {
        if (!escape(sink)) return false;
        const std::size_t stop = pos_ + find_string_stop(text_.substr(pos_));
        if (stop >= text_.size()) return false;
        if (sink) sink->append(text_.substr(pos_, stop - pos_));
        pos_ = stop;
        if (text_[stop] == '"') break;
        if (text_[stop] != '\\') return false;
    }
    ++pos_;
    if (out) *out = JsonText(std::move(decoded));
    return true;
}

// One escape, starting at its backslash.
bool JsonReader::escape(std::string* out) {
    if (pos_ + 1 >= text_.size()) return false;
    const char name = text_[pos_ + 1];
    pos_ += 2;
    if (name == 'u') return unicode_escape(out);
    const char decoded = short_escape(name);
    if (decoded == 0) return false;
    if (out) out->push_back(decoded);
    return true;
}

// The four hex digits after "\u", and for a leading surrogate the trailing
// one's escape that must follow at once.
bool JsonReader::unicode_escape(std::string* out) {
    std::uint32_t unit = 0;
    if (!hex_unit(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        std::uint32_t trail = 0;
        if (!consume('\\') || !consume('u') || !hex_unit(trail)) return false;
        if (trail < 0xDC00 || trail > 0xDFFF) return false;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00);
    }
    if (out) append_utf8(*out, unit);
    return true;
}

bool JsonReader::hex_unit(std::uint32_t& unit) noexcept {
    if (text_.size() - pos_ < 4) return false;
    unit = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int digit = hex_value(text_[pos_ + i]);
        if (digit < 0) return false;
        unit = unit << 4 | static_cast<std::uint32_t>(digit);
    }
    pos_ += 4;
    return true;
}

bool JsonReader::number(BufferedValue* out) {
    const auto shape = scan_number(text_, pos_);
    if (!shape) return false;
    const std::size_t begin = pos_;
    pos_ = shape->end;
    if (shape->digits_only) {
        if (const auto exact = exact_unsigned(text_.substr(begin, shape->end - begin))) {
            if (out) out->data = *exact;
            return true;
        }
    }
    // The range rule holds for dropped values too, so every other number is
    // evaluated.
    const auto value = finite_double(text_, begin, *shape);
    if (!value) return false;
    if (out) out->data = *value;
    return true;
}

bool JsonReader::literal(std::string_view word) noexcept {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
}

std::optional<BufferedValue> parse_json(std::string_view text) {
    JsonReader reader(text);
    reader.skip_whitespace();
    auto value = reader.read_value();
    reader.skip_whitespace();
    if (!value || !reader.at_end()) return std::nullopt;
    return value;
}

}  // namespace velmot
