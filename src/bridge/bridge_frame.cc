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

bool to_u8(const BufferedValue& value, std::uint8_t& field) {
    const auto* number = std::get_if<std::uint64_t>(&value.data);
    if (number == nullptr || *number > 255) return false;
    field = static_cast<std::uint8_t>(*number);
    return true;
}

bool to_text(BufferedValue& value, std::string& field) {
    auto* text = std::get_if<JsonText>(&value.data);
    if (text == nullptr) return false;
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

// ---- Object form ----

using MemberList = std::vector<BufferedMember>;

template <class Frame>
std::optional<BridgeFrame> build_from_members(MemberList& members) {
    constexpr std::size_t kFields = WireKeys<Frame>::keys.size();
    Frame frame;
    std::array<bool, kFields> assigned{};
    for (BufferedMember& member : members) {
        const std::size_t index = field_index<Frame>(member.key.view());
        if (index == kFields) continue;
        if (assigned[index] || !assign(frame, index, member.value)) return std::nullopt;
        assigned[index] = true;
    }
    if (!std::all_of(assigned.begin(), assigned.end(), [](bool a) { return a; })) {
        return std::nullopt;
    }
    return BridgeFrame{std::move(frame)};
}

std::optional<BridgeFrame> build_from_members(Tag tag, MemberList& members) {
    switch (tag) {
        case Tag::Output:
            return build_from_members<Output>(members);
        case Tag::Terminal:
            return build_from_members<Terminal>(members);
        default:
            return build_from_members<Failure>(members);
    }
}

std::optional<Tag> read_tag(JsonReader& reader) {
    const auto name = reader.read_string();  // anything but a string fails here
    if (!name) return std::nullopt;
    return tag_named(name->view());
}

// One member, key to value. "kind" sets the tag (once only, tested before
// the value is read); every other member is held until the tag is known.
bool read_member(JsonReader& reader, std::optional<Tag>& tag, MemberList& members) {
    auto key = reader.read_string();
    if (!key) return false;
    reader.skip_whitespace();
    if (!reader.consume(':')) return false;
    reader.skip_whitespace();
    if (key->view() == "kind") {
        if (tag) return false;
        tag = read_tag(reader);
        return tag.has_value();
    }
    if (!any_variant_reads(key->view())) return reader.skip_value();
    auto value = reader.read_value();
    if (!value) return false;
    members.push_back({std::move(*key), std::move(*value)});
    return true;
}

std::optional<BridgeFrame> decode_object_form(JsonReader& reader) {
    if (!reader.open('{')) return std::nullopt;
    std::optional<Tag> tag;
    MemberList members;
    reader.skip_whitespace();
    if (!reader.consume('}')) {
        do {
            reader.skip_whitespace();
            if (!read_member(reader, tag, members)) return std::nullopt;
            reader.skip_whitespace();
        } while (reader.consume(','));
        if (!reader.consume('}')) return std::nullopt;
    }
    reader.close();
    if (!tag) return std::nullopt;
    return build_from_members(*tag, members);
}

// ---- Array form ----

// The elements after the tag, converted one by one in field order: the tag
// came first, so nothing needs holding. Ends after the closing bracket.
template <class Frame>
std::optional<BridgeFrame> build_from_elements(JsonReader& reader) {
    constexpr std::size_t kFields = WireKeys<Frame>::keys.size();
    Frame frame;
    std::size_t count = 0;
    while (reader.consume(',')) {
        reader.skip_whitespace();
        if (count == kFields) return std::nullopt;  // one element too many
        auto value = reader.read_value();
        if (!value || !assign(frame, count, *value)) return std::nullopt;
        ++count;
        reader.skip_whitespace();
    }
    if (count != kFields || !reader.consume(']')) return std::nullopt;
    return BridgeFrame{std::move(frame)};
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
