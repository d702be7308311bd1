#include "bridge/json_reader.h"

#include <cstring>

#include "common/failure_note.h"
#include "common/utf8.h"

namespace velmot {
namespace {

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

// The decimal digits of the smallest magnitude that double precision rounds
// to infinity: 2^1024 - 2^970, halfway between the largest finite double and
// 2^1024, where rounding to even goes up. Its first digit stands for 10^308.
constexpr std::string_view kOverflowDigits =
    "1797693134862315807937289714053034150799341327100378269361737789804449682927647509466490"
    "1797758720709633028641669288791094655554785194040263065748867150582068190890200070838367"
    "6273854845817711531764475730270069855571366959622842914819860834936475292719074168444365"
    "510704342711559699508093042880177904174497792";
constexpr std::int64_t kOverflowExponent = 308;
static_assert(kOverflowDigits.size() == kOverflowExponent + 1);

// The significant digits of a number, from its first non-zero one on,
// through the integer part and on into the fraction.
class SignificantDigits {
  public:
    SignificantDigits(std::string_view t, const NumberShape& shape) noexcept
        : t_(t),
          shape_(shape),
          i_(shape.int_begin),
          end_(shape.frac_end != 0 ? shape.frac_end : shape.int_end) {
        while (!done() && t_[i_] == '0')
            next();
    }
    bool done() const noexcept { return i_ == end_; }
    char next() noexcept {
        const char digit = t_[i_++];
        if (i_ == shape_.int_end && end_ == shape_.frac_end) i_ = shape_.frac_begin;
        return digit;
    }
    // The power of ten that the first significant digit stands for.
    std::int64_t exponent() const noexcept {
        const auto at = static_cast<std::int64_t>(i_);
        const auto point =
            static_cast<std::int64_t>(i_ < shape_.int_end ? shape_.int_end : shape_.frac_begin);
        return point - 1 - at + shape_.exponent;
    }

  private:
    std::string_view t_;
    const NumberShape& shape_;
    std::size_t i_;
    std::size_t end_;
};

// Whether the number is finite in double precision, decided exactly and
// without converting it: its magnitude must stay below kOverflowDigits. One
// too small to hold rounds to zero and is finite.
bool fits_double(std::string_view t, const NumberShape& shape) noexcept {
    SignificantDigits digits(t, shape);
    if (digits.done()) return true;  // zero
    const std::int64_t exponent = digits.exponent();
    if (exponent != kOverflowExponent) return exponent < kOverflowExponent;
    for (const char limit : kOverflowDigits) {
        if (digits.done()) return true;  // the limit's last digit is not zero
        const char digit = digits.next();
        if (digit != limit) return digit < limit;
    }
    return false;  // at or past the limit
}

// ---- Strings ----

// Writes `cp` as UTF-8 at `out` and returns the number of bytes written.
std::size_t put_utf8(char* out, std::uint32_t cp) noexcept {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
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

}  // namespace

bool JsonReader::too_deep() const noexcept {
    note_failure_at(FailureReason::FrameTooDeep, position() - 1);
    return false;
}

// `string_stop` from a byte above 0x7F on: past each valid UTF-8 sequence
// and the ASCII content after it.
char* JsonReader::stop_after_utf8(char* from) const noexcept {
    char* stop = from;
    while (stop != end_ && static_cast<unsigned char>(*stop) >= 0x80) {
        const std::size_t length =
            utf8_sequence_length({stop, static_cast<std::size_t>(end_ - stop)});
        if (length == 0) break;  // not UTF-8: the string ends in failure here
        stop = plain_ascii_end(stop + length);
    }
    return stop;
}

// A name whose plain content starting at `start` ended at `stop` with
// something other than its closing quotation mark.
std::optional<std::string_view> JsonReader::name_with_escapes(char* start, char* stop,
                                                              NameBuffer& buffer) noexcept {
    if (stop == end_ || *stop != '\\') return std::nullopt;  // a raw control byte, or not UTF-8
    p_ = stop;
    char* const closing = rest_after_escape<false>(stop);
    if (closing == nullptr) return std::nullopt;
    const auto quoted = static_cast<std::size_t>(p_ - (start - 1));
    if (quoted > buffer.size()) return std::string_view(start, closing);
    // The string, quotation marks included, decoded in a copy by a reader of
    // its own; it has passed the rules already.
    std::memcpy(buffer.data(), start - 1, quoted);
    JsonReader copy({buffer.data(), quoted});
    const std::optional<std::span<char>> decoded = copy.read_string();
    if (!decoded) return std::nullopt;
    return std::string_view(decoded->data(), decoded->size());
}

bool JsonReader::skip_value() noexcept {
    skip_whitespace();
    if (p_ == end_) return false;
    switch (*p_) {
        case '{':
            return skip_object();
        case '[':
            return skip_array();
        case '"':
            return skip_string();
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return skip_number();
    }
}

// A string whose plain content starting at `start` ended at `stop` with
// something other than its closing quotation mark.
std::optional<std::span<char>> JsonReader::decode_rest_of_string(char* start, char* stop) noexcept {
    if (stop == end_ || *stop != '\\') return std::nullopt;  // a raw control byte, or not UTF-8
    p_ = stop;
    char* const decoded_end = rest_after_escape<true>(stop);
    if (decoded_end == nullptr) return std::nullopt;
    return std::span<char>(start, decoded_end);
}

// Reads the rest of a string from its first backslash, where the reader
// stands, to just past its closing quotation mark. With kDecode, the decoded
// bytes are written from `backslash` on, each piece at a place the reading
// has passed, and the end of the decoded content is returned; the bytes
// between that end and the first byte the reading has not taken apart become
// spaces, whether the string is accepted or not, so that no piece of a moved
// sequence is left behind. Without kDecode, the line is left as it is and the
// closing quotation mark is returned. Null if the string breaks a rule.
template <bool kDecode>
char* JsonReader::rest_after_escape(char* backslash) noexcept {
    char* out = backslash;
    char* as_received = p_;  // the line is unchanged from here on
    char* result = nullptr;
    while (escape<kDecode>(out)) {
        char* const stop = string_stop(p_);
        as_received = p_;  // after an escape, which is ASCII
        if (stop == end_) break;
        if constexpr (kDecode) {
            std::memmove(out, p_, static_cast<std::size_t>(stop - p_));
            out += stop - p_;
        }
        p_ = stop;
        as_received = stop;
        if (*stop == '"') {
            ++p_;
            result = kDecode ? out : stop;
            break;
        }
        if (*stop != '\\') break;
    }
    if constexpr (kDecode) std::memset(out, ' ', static_cast<std::size_t>(as_received - out));
    return result;
}

// One escape, starting at its backslash.
template <bool kDecode>
bool JsonReader::escape(char*& out) noexcept {
    if (end_ - p_ < 2) return false;
    const char name = p_[1];
    p_ += 2;
    if (name == 'u') return unicode_escape<kDecode>(out);
    const char decoded = short_escape(name);
    if (decoded == 0) return false;
    if constexpr (kDecode) *out++ = decoded;
    return true;
}

// The four hex digits after "\\u", and for a leading surrogate the trailing
// one's escape that must follow at once.
template <bool kDecode>
bool JsonReader::unicode_escape(char*& out) noexcept {
    std::uint32_t unit = 0;
    if (!hex_unit(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        std::uint32_t trail = 0;
        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
        p_ += 2;
        if (!hex_unit(trail) || trail < 0xDC00 || trail > 0xDFFF) return false;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00);
    }
    if constexpr (kDecode) out += put_utf8(out, unit);
    return true;
}

bool JsonReader::hex_unit(std::uint32_t& unit) noexcept {
    if (end_ - p_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(p_[i]);
        if (digit < 0) return false;
        unit = unit << 4 | static_cast<std::uint32_t>(digit);
    }
    p_ += 4;
    return true;
}

bool JsonReader::skip_string() noexcept {
    ++p_;  // the opening quotation mark
    char* const stop = string_stop(p_);
    if (stop == end_) return false;
    p_ = stop;
    if (*stop == '"') {
        ++p_;
        return true;
    }
    return *stop == '\\' && rest_after_escape<false>(stop) != nullptr;
}

bool JsonReader::skip_array() noexcept {
    if (!open('[')) return false;
    if (!consume(']')) {
        do {
            if (!skip_value()) return false;
        } while (consume(','));
        if (!consume(']')) return false;
    }
    close();
    return true;
}

bool JsonReader::skip_object() noexcept {
    if (!open('{')) return false;
    if (!consume('}')) {
        do {
            if (!next_is('"') || !skip_string() || !consume(':') || !skip_value()) return false;
        } while (consume(','));
        if (!consume('}')) return false;
    }
    close();
    return true;
}

// The range rule holds for dropped numbers too, so every number that is not
// an exact 64-bit integer is evaluated.
bool JsonReader::skip_number() noexcept {
    const std::string_view text(begin_, static_cast<std::size_t>(end_ - begin_));
    const auto begin = static_cast<std::size_t>(p_ - begin_);
    const std::optional<NumberShape> shape = scan_number(text, begin);
    if (!shape) return false;
    p_ = begin_ + shape->end;
    if (shape->digits_only && exact_unsigned(text.substr(begin, shape->end - begin))) return true;
    return fits_double(text, *shape);
}

bool JsonReader::literal(std::string_view word) noexcept {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
        return false;
    }
    p_ += word.size();
    return true;
}

}  // namespace velmot
