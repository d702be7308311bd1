#include "bridge/bridge_frame.h"

#include <algorithm>
#include <array>
#include <vector>

#include "bridge/json_reader.h"

namespace velmot {
namespace {

enum class Tag { Output, Terminal, Failure };

std::optional<Tag> tag_named(std::string_view name) {
    if (name == "plugin_cli_output") return Tag::Output;
    if (name == "plugin_cli_terminal") return Tag::Terminal;
    if (name == "plugin_cli_failure") return Tag::Failure;
    return std::nullopt;
}

// Each variant's wire keys, in the declaration order of its fields; the array
// form carries the values in this order.
template <class Frame>
struct WireKeys;
template <>
struct WireKeys<Output> {
    static constexpr std::array<std::string_view, 3> keys{"protocol_version", "channel",
                                                          "bytes_base64"};
};
template <>
struct WireKeys<Terminal> {
    static constexpr std::array<std::string_view, 2> keys{"protocol_version", "exit_code"};
};
template <>
struct WireKeys<Failure> {
    static constexpr std::array<std::string_view, 4> keys{"protocol_version", "code", "message",
                                                          "exit_code"};
};

template <class Frame>
std::size_t field_index(std::string_view key) {
    const auto& keys = WireKeys<Frame>::keys;
    return static_cast<std::size_t>(std::find(keys.begin(), keys.end(), key) - keys.begin());
}

// A key that no variant reads is ignored whatever the tag turns out to be, so
// its value is checked and dropped instead of being held until the end.
bool any_variant_reads(std::string_view key) {
    return field_index<Output>(key) < WireKeys<Output>::keys.size() ||
           field_index<Terminal>(key) < WireKeys<Terminal>::keys.size() ||
           field_index<Failure>(key) < WireKeys<Failure>::keys.size();
}

// ---- Field conversions ----
//
// Each field type has two conversions with the same rules: one of a value
// held as a buffered value (members read before "kind"), and one that reads
// the value straight from the line once the variant is known.

bool to_u8(const BufferedValue& value, std::uint8_t& field) {
    const auto* number = std::get_if<std::uint64_t>(&value.data);
    if (number == nullptr || *number > 255) return false;
    field = static_cast<std::uint8_t>(*number);
    return true;
}

bool read_u8(JsonReader& reader, std::uint8_t& field) {
    const std::optional<std::uint64_t> number = reader.read_exact_unsigned();
    if (!number || *number > 255) return false;
    field = static_cast<std::uint8_t>(*number);
    return true;
}

bool to_text(BufferedValue& value, std::string& field) {
    auto* text = std::get_if<JsonText>(&value.data);
    if (text == nullptr) return false;
    field = std::move(*text).take();
    return true;
}

bool read_text(JsonReader& reader, std::string& field) {
    std::optional<JsonText> text = reader.read_string();
    if (!text) return false;
    field = std::move(*text).take();
    return true;
}

bool channel_named(std::string_view name, OutputChannel& field) {
    if (name == "stdout") {
        field = OutputChannel::Stdout;
    } else if (name == "stderr") {
        field = OutputChannel::Stderr;
    } else {
        return false;
    }
    return true;
}

bool is_null_or_empty_object(const BufferedValue& value) {
    if (std::holds_alternative<JsonNull>(value.data)) return true;
    const auto* members = std::get_if<BufferedValue::Object>(&value.data);
    return members != nullptr && members->empty();
}

// "stdout" or "stderr" as a string, or as the single key of an object whose
// value is null or {}.
bool to_channel(const BufferedValue& value, OutputChannel& field) {
    if (const auto* name = std::get_if<JsonText>(&value.data)) {
        return channel_named(name->view(), field);
    }
    const auto* members = std::get_if<BufferedValue::Object>(&value.data);
    if (members == nullptr || members->size() != 1) return false;
    const BufferedMember& only = members->front();
    return is_null_or_empty_object(only.value) && channel_named(only.key.view(), field);
}

std::optional<BufferedValue> read_channel_object(JsonReader& reader);

// Only a string or an object can be a channel; anything else fails the line,
// so it need not be read.
bool read_channel(JsonReader& reader, OutputChannel& field) {
    if (reader.next_is('"')) {
        const std::optional<JsonText> name = reader.read_string();
        return name && channel_named(name->view(), field);
    }
    if (!reader.next_is('{')) return false;
    const std::optional<BufferedValue> value = read_channel_object(reader);
    return value && to_channel(*value, field);
}

// Converts `value` into the variant's field number `index` (declaration
// order).
bool assign(Output& frame, std::size_t index, BufferedValue& value) {
    switch (index) {
        case 0:
            return to_u8(value, frame.protocol_version);
        case 1:
            return to_channel(value, frame.channel);
        default:
            return to_text(value, frame.bytes_base64);
    }
}

bool assign(Terminal& frame, std::size_t index, BufferedValue& value) {
    return to_u8(value, index == 0 ? frame.protocol_version : frame.exit_code);
}

bool assign(Failure& frame, std::size_t index, BufferedValue& value) {
    switch (index) {
        case 0:
            return to_u8(value, frame.protocol_version);
        case 1:
            return to_text(value, frame.code);
        case 2:
            return to_text(value, frame.message);
        default:
            return to_u8(value, frame.exit_code);
    }
}

// Reads the next value into the variant's field number `index`.
bool read_field(JsonReader& reader, Output& frame, std::size_t index) {
    switch (index) {
        case 0:
            return read_u8(reader, frame.protocol_version);
        case 1:
            return read_channel(reader, frame.channel);
        default:
            return read_text(reader, frame.bytes_base64);
    }
}

bool read_field(JsonReader& reader, Terminal& frame, std::size_t index) {
    return read_u8(reader, index == 0 ? frame.protocol_version : frame.exit_code);
}

bool read_field(JsonReader& reader, Failure& frame, std::size_t index) {
    switch (index) {
        case 0:
            return read_u8(reader, frame.protocol_version);
        case 1:
            return read_text(reader, frame.code);
        case 2:
            return read_text(reader, frame.message);
        default:
            return read_u8(reader, frame.exit_code);
    }
}

// A frame of one variant being filled in, each field at most once, from
// held values or straight from the line.
template <class Frame>
class FrameFields {
  public:
    static constexpr std::size_t kCount = WireKeys<Frame>::keys.size();

    bool assign_held(std::size_t index, BufferedValue& value) {
        return claim(index) && assign(frame_, index, value);
    }
    bool read_from(JsonReader& reader, std::size_t index) {
        return claim(index) && read_field(reader, frame_, index);
    }
    // The frame, if every field was assigned.
    std::optional<BridgeFrame> finish() && {
        if (!std::all_of(assigned_.begin(), assigned_.end(), [](bool a) { return a; })) {
            return std::nullopt;
        }
        return BridgeFrame{std::move(frame_)};
    }

  private:
    bool claim(std::size_t index) {
        if (assigned_[index]) return false;
        assigned_[index] = true;
        return true;
    }

    Frame frame_;
    std::array<bool, kCount> assigned_{};
};

std::optional<Tag> read_tag(JsonReader& reader) {
    const auto name = reader.read_string();  // anything but a string fails here
    if (!name) return std::nullopt;
    return tag_named(name->view());
}

// ---- Object form ----
//
// Members before "kind" are held as buffered values, since their meaning
// depends on the tag. From "kind" on (the first member, in the frames the
// bridge writes) every member is converted or checked and dropped as it is
// read. Which fields a line assigns does not depend on the order of its
// members, so both ways accept the same lines.

using MemberList = std::vector<BufferedMember>;

// A member's key with the colon after it.
std::optional<JsonText> read_key(JsonReader& reader) {
    std::optional<JsonText> key = reader.read_string();
    if (!key) return std::nullopt;
    reader.skip_whitespace();
    if (!reader.consume(':')) return std::nullopt;
    reader.skip_whitespace();
    return key;
}

// Reads one value and tells whether it is null or an empty object, without
// holding any of it.
bool read_null_or_empty_object(JsonReader& reader, bool& is_null_or_empty) {
    is_null_or_empty = false;
    if (!reader.next_is('{')) {
        is_null_or_empty = reader.next_is('n');
        return reader.skip_value();
    }
    if (!reader.open('{')) return false;
    reader.skip_whitespace();
    if (reader.consume('}')) {
        reader.close();
        is_null_or_empty = true;
        return true;
    }
    return reader.skip_members();
}

// An object where a channel may stand, reduced to what decides the channel:
// {"<key>":null} when it has exactly one member whose value is null or {},
// null otherwise. Holding such an object whole would let one line of many
// small members or deep containers cost the launcher many times its size.
std::optional<BufferedValue> read_channel_object(JsonReader& reader) {
    if (!reader.open('{')) return std::nullopt;
    reader.skip_whitespace();
    if (reader.consume('}')) {
        reader.close();
        return BufferedValue{JsonNull{}};
    }
    std::optional<JsonText> key = read_key(reader);
    bool is_null_or_empty = false;
    if (!key || !read_null_or_empty_object(reader, is_null_or_empty)) return std::nullopt;
    reader.skip_whitespace();
    if (reader.consume(',')) {
        if (!reader.skip_members()) return std::nullopt;
        return BufferedValue{JsonNull{}};
    }
    if (!reader.consume('}')) return std::nullopt;
    reader.close();
    if (!is_null_or_empty) return BufferedValue{JsonNull{}};
    BufferedValue::Object only;
    only.push_back({std::move(*key), BufferedValue{JsonNull{}}});
    return BufferedValue{std::move(only)};
}

// What a member read before "kind" holds: scalars as they are, and for a
// container only what a field could take from it. No field takes an array,
// and only "channel" an object; any other container is checked and held as
// null, which no field takes either.
std::optional<BufferedValue> read_held_value(JsonReader& reader, std::string_view key) {
    const bool array = reader.next_is('[');
    const bool object = reader.next_is('{');
    if (object && key == "channel") return read_channel_object(reader);
    if (array || object) {
        if (!reader.skip_value()) return std::nullopt;
        return BufferedValue{JsonNull{}};
    }
    return reader.read_value();
}

// A member read before "kind". A key that no variant reads is ignored
// whatever the tag turns out to be, so its value is checked and dropped
// instead of being held.
bool hold_member(JsonReader& reader, JsonText&& key, MemberList& held) {
    if (!any_variant_reads(key.view())) return reader.skip_value();
    std::optional<BufferedValue> value = read_held_value(reader, key.view());
    if (!value) return false;
    held.push_back({std::move(key), std::move(*value)});
    return true;
}

// The members after "kind", up to and including the closing brace, with the
// held ones. A second "kind" fails before its value is read.
template <class Frame>
std::optional<BridgeFrame> read_members_after_tag(JsonReader& reader, MemberList& held) {
    FrameFields<Frame> fields;
    for (BufferedMember& member : held) {
        const std::size_t index = field_index<Frame>(member.key.view());
        if (index < fields.kCount && !fields.assign_held(index, member.value)) return std::nullopt;
    }
    reader.skip_whitespace();
    while (reader.consume(',')) {
        reader.skip_whitespace();
        const std::optional<JsonText> key = read_key(reader);
        if (!key || key->view() == "kind") return std::nullopt;
        const std::size_t index = field_index<Frame>(key->view());
        const bool read =
            index < fields.kCount ? fields.read_from(reader, index) : reader.skip_value();
        if (!read) return std::nullopt;
        reader.skip_whitespace();
    }
    if (!reader.consume('}')) return std::nullopt;
    reader.close();
    return std::move(fields).finish();
}

std::optional<BridgeFrame> read_members_after_tag(JsonReader& reader, Tag tag, MemberList& held) {
    switch (tag) {
        case Tag::Output:
            return read_members_after_tag<Output>(reader, held);
        case Tag::Terminal:
            return read_members_after_tag<Terminal>(reader, held);
        default:
            return read_members_after_tag<Failure>(reader, held);
    }
}

std::optional<BridgeFrame> decode_object_form(JsonReader& reader) {
    if (!reader.open('{')) return std::nullopt;
    MemberList held;
    reader.skip_whitespace();
    if (reader.next_is('}')) return std::nullopt;  // no "kind"
    do {
        reader.skip_whitespace();
        std::optional<JsonText> key = read_key(reader);
        if (!key) return std::nullopt;
        if (key->view() == "kind") {
            const std::optional<Tag> tag = read_tag(reader);
            if (!tag) return std::nullopt;
            return read_members_after_tag(reader, *tag, held);
        }
        if (!hold_member(reader, std::move(*key), held)) return std::nullopt;
        reader.skip_whitespace();
    } while (reader.consume(','));
    return std::nullopt;  // the object ended, well-formed or not, without "kind"
}

// ---- Array form ----

// The elements after the tag, read one by one in field order: the tag came
// first, so nothing needs holding. Ends after the closing bracket.
template <class Frame>
std::optional<BridgeFrame> build_from_elements(JsonReader& reader) {
    FrameFields<Frame> fields;
    std::size_t count = 0;
    while (reader.consume(',')) {
        reader.skip_whitespace();
        if (count == fields.kCount) return std::nullopt;  // one element too many
        if (!fields.read_from(reader, count)) return std::nullopt;
        ++count;
        reader.skip_whitespace();
    }
    if (!reader.consume(']')) return std::nullopt;
    return std::move(fields).finish();
}

std::optional<BridgeFrame> decode_array_form(JsonReader& reader) {
    if (!reader.open('[')) return std::nullopt;
    reader.skip_whitespace();
    const auto tag = read_tag(reader);  // an empty array fails here too
    if (!tag) return std::nullopt;
    reader.skip_whitespace();
    std::optional<BridgeFrame> frame;
    switch (*tag) {
        case Tag::Output:
            frame = build_from_elements<Output>(reader);
            break;
        case Tag::Terminal:
            frame = build_from_elements<Terminal>(reader);
            break;
        default:
            frame = build_from_elements<Failure>(reader);
            break;
    }
    reader.close();
    return frame;
}

}  // namespace

std::optional<BridgeFrame> decode_frame(std::string_view text) {
    JsonReader reader(text);
    reader.skip_whitespace();
    std::optional<BridgeFrame> frame;
    if (reader.next_is('{')) {
        frame = decode_object_form(reader);
    } else if (reader.next_is('[')) {
        frame = decode_array_form(reader);
    }
    if (!frame) return std::nullopt;
    reader.skip_whitespace();
    if (!reader.at_end()) return std::nullopt;
    return frame;
}

}  // namespace velmot
