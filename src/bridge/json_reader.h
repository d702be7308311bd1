// A strict JSON reader for bridge frame lines. It reads from a string_view
// that the caller keeps alive and produces buffered values: null, booleans,
// numbers, texts, arrays and objects (members in order, duplicate keys kept).
//
// Texts without escapes are not copied: a JsonText then refers into the line
// and lives only as long as the line does. A text with escapes owns its
// decoded bytes. `JsonText::take` hands the content over as an owned string,
// copying only when the text still refers into the line.
//
// The rules: whitespace is exactly space, tab, line feed and carriage return;
// strings reject raw bytes below 0x20 and lone surrogate escapes; numbers
// follow the JSON grammar, digit-only values that fit in 64 bits are exact,
// all others are doubles, and a value too large to be finite is rejected
// (one too small becomes zero); containers nest at most kMaxFrameNesting
// levels. The input is taken to be valid UTF-8 already. Nothing is thrown:
// every rule violation is a failed read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velmot {

class JsonText {
  public:
    JsonText() = default;
    explicit JsonText(std::string_view borrowed) noexcept : view_(borrowed) {}
    explicit JsonText(std::string owned)
        : owned_(std::make_unique<std::string>(std::move(owned))), view_(*owned_) {}

    std::string_view view() const noexcept { return view_; }
    // The content as an owned string; moves decoded bytes, copies a borrowed
    // slice of the line.
    std::string take() && { return owned_ ? std::move(*owned_) : std::string(view_); }

  private:
    // Texts are read for every key of every frame and almost never hold
    // escapes, so a borrowed text is just its view, and the rare decoded one
    // sits where moving the JsonText does not move it.
    std::unique_ptr<std::string> owned_;
    std::string_view view_;
};

struct JsonNull {
    friend bool operator==(JsonNull, JsonNull) = default;
};

struct BufferedMember;

struct BufferedValue {
    using Array = std::vector<BufferedValue>;
    using Object = std::vector<BufferedMember>;
    // A number is std::uint64_t when it was written with digits only and fits;
    // every other number is a double.
    std::variant<JsonNull, bool, std::uint64_t, double, JsonText, Array, Object> data;
};

struct BufferedMember {
    JsonText key;
    BufferedValue value;
};

// Reads JSON tokens and values from left to right. The caller drives the
// outer structure (as the frame decoder does for its top-level object or
// array) and asks for whole values inside it. The nesting count covers
// containers the caller opens with `open` and those inside read values.
class JsonReader {
  public:
    explicit JsonReader(std::string_view text) noexcept : text_(text) {}

    // Space, tab, line feed and carriage return, and nothing else. Defined
    // here, like the other single-byte steps, because a frame line takes
    // dozens of them.
    void skip_whitespace() noexcept {
        while (pos_ < text_.size() && is_whitespace(text_[pos_]))
            ++pos_;
    }
    bool at_end() const noexcept { return pos_ == text_.size(); }
    // Whether the next byte is `c`; no whitespace is skipped.
    bool next_is(char c) const noexcept { return pos_ < text_.size() && text_[pos_] == c; }
    // Takes the next byte if it is `c`.
    bool consume(char c) noexcept {
        if (!next_is(c)) return false;
        ++pos_;
        return true;
    }

    // Takes "{" or "[" and counts one nesting level; fails beyond the limit.
    bool open(char bracket) noexcept;
    void close() noexcept { --depth_; }

    // The next byte must open a string.
    std::optional<JsonText> read_string();
    // The next value as an exact unsigned integer: a number written with
    // digits only whose value fits in 64 bits. Fails on every other value,
    // well-formed or not, for callers that refuse anything else anyway.
    std::optional<std::uint64_t> read_exact_unsigned();
    // Reads one complete value of any type.
    std::optional<BufferedValue> read_value();
    // Reads one complete value under the same rules and drops it.
    bool skip_value();
    // Inside an object the caller opened with `open('{')`, at a member (its
    // first, or the one after a comma): reads the remaining members and the
    // closing brace under the same rules, drops them and closes the level.
    bool skip_members();

  private:
    static bool is_whitespace(char c) noexcept {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    }
    bool value(BufferedValue* out);
    bool array(BufferedValue* out);
    bool object(BufferedValue* out);
    bool members_then_brace(BufferedValue::Object* members);
    bool string(JsonText* out);
    bool string_with_escapes(std::size_t start, JsonText* out);
    bool escape(std::string* out);
    bool unicode_escape(std::string* out);
    bool hex_unit(std::uint32_t& unit) noexcept;
    bool number(BufferedValue* out);
    bool literal(std::string_view word) noexcept;

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
};

// The whole text as one JSON value with optional whitespace around it.
std::optional<BufferedValue> parse_json(std::string_view text);

// The index of the first byte in `bytes` that ends a run of plain string
// content: a quotation mark, a backslash or a byte below 0x20; bytes.size()
// when there is none. Scans many bytes per step.
std::size_t find_string_stop(std::string_view bytes) noexcept;

}  // namespace velmot
