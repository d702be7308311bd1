#include "bridge/bridge_frame.h"

#include <bit>
#include <iterator>
#include <utility>

#include "bridge/json_reader.h"
#include "common/failure_note.h"

namespace velmot {
namespace {

enum class Tag { Output, Terminal, Failure };

// Notes why the line is rejected, at the reader's place; a rule found deeper
// (the nesting limit) has been noted already and stands.
std::nullopt_t reject_at(const JsonReader& reader, FailureReason reason) noexcept {
    note_failure_at(reason, reader.position());
    return std::nullopt;
}

constexpr std::string_view kTagNames[] = {"plugin_cli_output", "plugin_cli_terminal",
                                          "plugin_cli_failure"};

// A tag value written otherwise than a bridge writes it: with escapes,
// white space before it, or not a tag at all. Out of line, so that its name
// buffer and slow path stay out of `read_tag`, which every frame runs.
[[gnu::noinline]] std::optional<Tag> read_other_tag(JsonReader& reader) noexcept {
    JsonReader::NameBuffer buffer;
    const std::optional<std::string_view> name = reader.read_name(buffer);
    for (std::size_t i = 0; name && i < std::size(kTagNames); ++i) {
        if (*name == kTagNames[i]) return static_cast<Tag>(i);
    }
    return std::nullopt;
}

// The tag value, which must be a string naming a variant. The names are
// first matched as a bridge writes them, without escapes.
std::optional<Tag> read_tag(JsonReader& reader) noexcept {
    for (std::size_t i = 0; i < std::size(kTagNames); ++i) {
        if (reader.consume_quoted(kTagNames[i])) return static_cast<Tag>(i);
    }
    return read_other_tag(reader);
}

// ---- Field conversions ----

bool read_u8(JsonReader& reader, std::uint8_t& field) noexcept {
    const std::optional<std::uint8_t> number = reader.read_u8();
    if (!number) return false;
    field = *number;
    return true;
}

bool read_text(JsonReader& reader, std::span<char>& field) noexcept {
    const std::optional<std::span<char>> text = reader.read_string();
    if (!text) return false;
    field = *text;
    return true;
}

bool read_text(JsonReader& reader, std::string_view& field) noexcept {
    std::span<char> text;
    if (!read_text(reader, text)) return false;
    field = {text.data(), text.size()};
    return true;
}

bool channel_named(std::span<const char> name, OutputChannel& field) noexcept {
    const std::string_view text(name.data(), name.size());
    if (text == "stdout") {
        field = OutputChannel::Stdout;
    } else if (text == "stderr") {
        field = OutputChannel::Stderr;
    } else {
        return false;
    }
    return true;
}

bool read_null_or_empty_object(JsonReader& reader) noexcept {
    if (reader.next_is('n')) return reader.skip_value();  // only null starts so
    if (!reader.open('{') || !reader.consume('}')) return false;
    reader.close();
    return true;
}

// The channel forms a bridge does not write: with escapes, or as an object.
bool read_channel_otherwise(JsonReader& reader, OutputChannel& field) noexcept {
    if (reader.next_is('"')) {
        const std::optional<std::span<char>> name = reader.read_string();
        return name && channel_named(*name, field);
    }
    if (!reader.open('{')) return false;
    const std::optional<std::span<char>> name = reader.read_string();  // {} fails here
    if (!name || !channel_named(*name, field) || !reader.consume(':')) return false;
    if (!read_null_or_empty_object(reader)) return false;
    if (!reader.consume('}')) return false;  // a second member fails here
    reader.close();
    return true;
}

// A channel written otherwise than a bridge writes it: with escapes, as an
// object, or not a channel at all; one that is no channel is reported where
// its value starts, like every other field's. Out of line, so that this slow
// path stays out of `read_channel`, which every output frame runs.
[[gnu::noinline]] bool read_other_channel(JsonReader& reader, OutputChannel& field) noexcept {
    const std::size_t value = reader.position();
    if (read_channel_otherwise(reader, field)) return true;
    reader.seek(value);
    return false;
}

// "stdout" or "stderr" as a string, or as the single key of an object whose
// value is null or {}.
bool read_channel(JsonReader& reader, OutputChannel& field) noexcept {
    if (reader.consume_quoted("stdout")) {
        field = OutputChannel::Stdout;
        return true;
    }
    if (reader.consume_quoted("stderr")) {
        field = OutputChannel::Stderr;
        return true;
    }
    return read_other_channel(reader, field);
}

// ---- One table of fields per variant ----
//
// Each variant's fields in declaration order, which is also the order of the
// values in the array form, with their wire keys and conversions.

template <class Frame>
struct Field {
    std::string_view key;
    bool (*read)(JsonReader&, Frame&) noexcept;
    FailureReason wrong_value;  // why a value that does not convert is rejected
};

template <class Frame>
struct FieldTable;

template <>
struct FieldTable<Output> {
    static constexpr Field<Output> kFields[] = {
        {"protocol_version",
         [](JsonReader& r, Output& f) noexcept { return read_u8(r, f.protocol_version); },
         FailureReason::FrameFieldNotByte},
        {"channel", [](JsonReader& r, Output& f) noexcept { return read_channel(r, f.channel); },
         FailureReason::FrameFieldNotChannel},
        {"bytes_base64",
         [](JsonReader& r, Output& f) noexcept { return read_text(r, f.bytes_base64); },
         FailureReason::FrameFieldNotString},
    };
};

template <>
struct FieldTable<Terminal> {
    static constexpr Field<Terminal> kFields[] = {
        {"protocol_version",
         [](JsonReader& r, Terminal& f) noexcept { return read_u8(r, f.protocol_version); },
         FailureReason::FrameFieldNotByte},
        {"exit_code", [](JsonReader& r, Terminal& f) noexcept { return read_u8(r, f.exit_code); },
         FailureReason::FrameFieldNotByte},
    };
};

template <>
struct FieldTable<Failure> {
    static constexpr Field<Failure> kFields[] = {
        {"protocol_version",
         [](JsonReader& r, Failure& f) noexcept { return read_u8(r, f.protocol_version); },
         FailureReason::FrameFieldNotByte},
        {"code", [](JsonReader& r, Failure& f) noexcept { return read_text(r, f.code); },
         FailureReason::FrameFieldNotString},
        {"message", [](JsonReader& r, Failure& f) noexcept { return read_text(r, f.message); },
         FailureReason::FrameFieldNotString},
        {"exit_code", [](JsonReader& r, Failure& f) noexcept { return read_u8(r, f.exit_code); },
         FailureReason::FrameFieldNotByte},
    };
};

// A frame of one variant being filled in, each field at most once. The
// walks over the table are unrolled, so that each key is compared with a
// length the compiler knows and each conversion is called directly.
template <class Frame>
class FrameFields {
  public:
    static constexpr auto& kFields = FieldTable<Frame>::kFields;
    static constexpr std::size_t kCount = std::size(kFields);

    // Reads the value of the member under `key`: into its field, which must
    // not have been assigned before, or, when the variant has no field under
    // that key, checked and dropped. A key of another variant, or one that
    // differs in letter case, is an ignored member like any other.
    bool read_member(JsonReader& reader, std::string_view key) noexcept {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            bool ok = true;
            // The first field whose key matches reads its value and ends the walk.
            const bool known = ((is_key<I>(key) && read_matched<I>(reader, ok)) || ...);
            return known ? ok : reader.skip_value();
        }
        (std::make_index_sequence<kCount>{});
    }

    // Reads the member of the first field not yet assigned if the line holds
    // it next, its key written exactly as `"<key>"`. A bridge writes the
    // fields so, in declaration order, so this mostly spares reading each key
    // as a string and looking it up. Returns whether the key was there; `ok`
    // then tells whether its value was read.
    bool read_expected_member(JsonReader& reader, bool& ok) noexcept {
        const auto next = static_cast<std::size_t>(std::countr_one(assigned_));
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            // Only field `next` can match; if its key is there, so must be the
            // colon and the value.
            return ((next == I && reader.consume_quoted(kFields[I].key) &&
                     read_matched<I>(reader, ok, reader.consume(':'))) ||
                    ...);
        }
        (std::make_index_sequence<kCount>{});
    }

    // Reads the value of each field in declaration order, the next one after
    // each of the separators that `separated` takes.
    template <class Separator>
    bool read_in_order(JsonReader& reader, Separator separated) noexcept {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return ((separated(reader) && read<I>(reader)) && ...);
        }
        (std::make_index_sequence<kCount>{});
    }

    // The frame, if every field was assigned.
    std::optional<BridgeFrame> finish() const noexcept {
        if (assigned_ == (1u << kCount) - 1) return BridgeFrame{frame_};
        note_failure(FailureReason::FrameFieldMissing);
        note_failure_member(kFields[std::countr_one(assigned_)].key);
        return std::nullopt;
    }

  private:
    // Reads field I's value, if `colon` holds, into `ok`, and is always true:
    // its key matched, so the walk over the fields stops whether or not the
    // value converted.
    template <std::size_t I>
    bool read_matched(JsonReader& reader, bool& ok, bool colon = true) noexcept {
        ok = colon && read<I>(reader);
        return true;
    }

    template <std::size_t I>
    static bool is_key(std::string_view key) noexcept {
        constexpr std::string_view kKey = kFields[I].key;
        return key == kKey;
    }

    template <std::size_t I>
    bool read(JsonReader& reader) noexcept {
        constexpr unsigned kBit = 1u << I;
        if ((assigned_ & kBit) != 0) return reject_field(reader, FailureReason::FrameFieldTwice, I);
        assigned_ |= kBit;
        return kFields[I].read(reader, frame_) || reject_field(reader, kFields[I].wrong_value, I);
    }

    // Notes why field `field` is rejected, at the reader's place; false.
    static bool reject_field(const JsonReader& reader, FailureReason reason,
                             std::size_t field) noexcept {
        note_failure_at(reason, reader.position());
        note_failure_member(kFields[field].key);
        return false;
    }

    Frame frame_;
    unsigned assigned_ = 0;
};

// ---- Object form: two passes ----
//
// The meaning of a member depends on the tag, and "kind" may stand anywhere.
// The first pass finds the tag member, checking the members before it under
// the JSON rules without converting or changing them; a bridge writes "kind"
// first, so this pass reads one member. The second pass reads the whole
// object once with the variant known, stepping over the tag member.

struct TagMember {
    Tag tag;
    std::size_t begin;  // just past the brace or comma before it
    std::size_t end;    // just past its value
};

std::optional<TagMember> find_tag_member(JsonReader reader) noexcept {
    if (!reader.open('{')) return std::nullopt;
    JsonReader::NameBuffer buffer;
    do {
        const std::size_t begin = reader.position();
        bool is_tag = reader.consume_quoted("kind");  // where a bridge writes it
        if (!is_tag) {
            const std::optional<std::string_view> key = reader.read_name(buffer);  // } fails here
            if (!key) {
                if (reader.consume('}')) return reject_at(reader, FailureReason::FrameKindMissing);
                return reject_at(reader, FailureReason::FrameNotJson);
            }
            is_tag = *key == "kind";
        }
        if (!reader.consume(':')) return reject_at(reader, FailureReason::FrameNotJson);
        if (is_tag) {
            const std::size_t value = reader.position();
            const std::optional<Tag> tag = read_tag(reader);
            if (!tag) {
                reader.seek(value);
                return reject_at(reader, FailureReason::FrameKindUnknown);
            }
            return TagMember{*tag, begin, reader.position()};
        }
        if (!reader.skip_value()) return reject_at(reader, FailureReason::FrameNotJson);
    } while (reader.consume(','));
    // The object ended, well-formed or not, without "kind".
    if (reader.consume('}')) return reject_at(reader, FailureReason::FrameKindMissing);
    return reject_at(reader, FailureReason::FrameNotJson);
}

template <class Frame>
std::optional<BridgeFrame> read_members(JsonReader& reader, const TagMember& tag) noexcept {
    FrameFields<Frame> fields;
    if (!reader.open('{')) return std::nullopt;
    do {
        if (reader.position() == tag.begin) {
            reader.seek(tag.end);
            continue;
        }
        bool read = false;
        if (fields.read_expected_member(reader, read)) {
            if (!read) return std::nullopt;
            continue;
        }
        const std::size_t key_at = reader.position();
        const std::optional<std::span<char>> key = reader.read_string();
        if (!key || !reader.consume(':')) return reject_at(reader, FailureReason::FrameNotJson);
        const std::string_view name(key->data(), key->size());
        if (name == "kind") {
            reader.seek(key_at);
            return reject_at(reader, FailureReason::FrameKindTwice);
        }
        if (!fields.read_member(reader, name))
            return reject_at(reader, FailureReason::FrameNotJson);
    } while (reader.consume(','));
    if (!reader.consume('}')) return reject_at(reader, FailureReason::FrameNotJson);
    reader.close();
    return fields.finish();
}

std::optional<BridgeFrame> decode_object_form(JsonReader& reader) noexcept {
    const std::optional<TagMember> tag = find_tag_member(reader);
    if (!tag) return std::nullopt;
    switch (tag->tag) {
        case Tag::Output:
            return read_members<Output>(reader, *tag);
        case Tag::Terminal:
            return read_members<Terminal>(reader, *tag);
        case Tag::Failure:
            return read_members<Failure>(reader, *tag);
    }
    return std::nullopt;
}

// ---- Array form ----

// The values after the tag, one per field in declaration order, and the
// closing bracket.
template <class Frame>
std::optional<BridgeFrame> read_elements(JsonReader& reader) noexcept {
    FrameFields<Frame> fields;
    // A missing comma is too few values, or a syntax error.
    const auto comma = [](JsonReader& r) {
        if (r.consume(',')) return true;
        (void)reject_at(
            r, r.next_is(']') ? FailureReason::FrameArrayLength : FailureReason::FrameNotJson);
        return false;
    };
    if (!fields.read_in_order(reader, comma)) return std::nullopt;
    if (!reader.consume(']')) {
        return reject_at(reader, reader.next_is(',') ? FailureReason::FrameArrayLength
                                                     : FailureReason::FrameNotJson);
    }
    reader.close();
    return fields.finish();
}

std::optional<BridgeFrame> decode_array_form(JsonReader& reader) noexcept {
    if (!reader.open('[')) return std::nullopt;
    const std::size_t value = reader.position();
    const std::optional<Tag> tag = read_tag(reader);  // [] fails here
    if (!tag) {
        reader.seek(value);
        return reject_at(reader, FailureReason::FrameKindUnknown);
    }
    switch (*tag) {
        case Tag::Output:
            return read_elements<Output>(reader);
        case Tag::Terminal:
            return read_elements<Terminal>(reader);
        case Tag::Failure:
            return read_elements<Failure>(reader);
    }
    return std::nullopt;
}

// One frame in either form.
std::optional<BridgeFrame> decode_value(JsonReader& reader) noexcept {
    if (reader.next_is('{')) return decode_object_form(reader);
    if (reader.next_is('[')) return decode_array_form(reader);
    return reject_at(reader, FailureReason::FrameNotContainer);  // any other value, or none
}

}  // namespace

std::optional<BridgeFrame> decode_frame(std::span<char> line) {
    JsonReader reader(line);
    std::optional<BridgeFrame> frame = decode_value(reader);
    if (frame && !reader.at_end()) {
        frame.reset();  // a line holds exactly one frame
        (void)reject_at(reader, FailureReason::FrameTrailingBytes);
    }
    return frame;
}

}  // namespace velmot
