// Fuzzes `decode_frame` with arbitrary line text. Any frame it accepts is
// written back out by an encoder of this target's own, in the object form and
// in the array form, and each of those lines must be accepted again and
// decode to the same frame. The frame's texts must lie inside the line it
// borrows.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "bridge/bridge_frame.h"
#include "fuzz_check.h"

namespace {

using velmot::BridgeFrame;
using velmot::Failure;
using velmot::Output;
using velmot::OutputChannel;
using velmot::Terminal;
using velmot::fuzz::check;

// A JSON string for any bytes: quotation mark, backslash and control bytes
// escaped, everything else copied.
std::string json_string(std::string_view text) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string_view text(std::span<char> bytes) {
    return {bytes.data(), bytes.size()};
}

std::string channel_name(OutputChannel channel) {
    return channel == OutputChannel::Stdout ? "\"stdout\"" : "\"stderr\"";
}

std::string object_form(const BridgeFrame& frame) {
    if (const auto* o = std::get_if<Output>(&frame)) {
        return "{\"kind\":\"plugin_cli_output\",\"protocol_version\":" +
               std::to_string(o->protocol_version) + ",\"channel\":" + channel_name(o->channel) +
               ",\"bytes_base64\":" + json_string(text(o->bytes_base64)) + "}";
    }
    if (const auto* t = std::get_if<Terminal>(&frame)) {
        return "{\"exit_code\":" + std::to_string(t->exit_code) +
               ",\"protocol_version\":" + std::to_string(t->protocol_version) +
               ",\"kind\":\"plugin_cli_terminal\"}";
    }
    const auto& f = std::get<Failure>(frame);
    return "{\"protocol_version\":" + std::to_string(f.protocol_version) +
           ",\"code\":" + json_string(f.code) +
           ",\"kind\":\"plugin_cli_failure\",\"message\":" + json_string(f.message) +
           ",\"exit_code\":" + std::to_string(f.exit_code) + "}";
}

std::string array_form(const BridgeFrame& frame) {
    if (const auto* o = std::get_if<Output>(&frame)) {
        const std::string channel =
            o->channel == OutputChannel::Stdout ? "{\"stdout\":null}" : "{\"stderr\":{}}";
        return "[\"plugin_cli_output\"," + std::to_string(o->protocol_version) + "," + channel +
               "," + json_string(text(o->bytes_base64)) + "]";
    }
    if (const auto* t = std::get_if<Terminal>(&frame)) {
        return "[\"plugin_cli_terminal\"," + std::to_string(t->protocol_version) + "," +
               std::to_string(t->exit_code) + "]";
    }
    const auto& f = std::get<Failure>(frame);
    return "[\"plugin_cli_failure\"," + std::to_string(f.protocol_version) + "," +
           json_string(f.code) + "," + json_string(f.message) + "," + std::to_string(f.exit_code) +
           "]";
}

bool same(const BridgeFrame& a, const BridgeFrame& b) {
    if (a.index() != b.index()) return false;
    if (const auto* o = std::get_if<Output>(&a)) {
        const auto& p = std::get<Output>(b);
        return o->protocol_version == p.protocol_version && o->channel == p.channel &&
               text(o->bytes_base64) == text(p.bytes_base64);
    }
    if (const auto* t = std::get_if<Terminal>(&a)) {
        const auto& u = std::get<Terminal>(b);
        return t->protocol_version == u.protocol_version && t->exit_code == u.exit_code;
    }
    const auto& f = std::get<Failure>(a);
    const auto& g = std::get<Failure>(b);
    return f.protocol_version == g.protocol_version && f.code == g.code && f.message == g.message &&
           f.exit_code == g.exit_code;
}

void check_round_trip(const BridgeFrame& frame, std::string line) {
    const std::optional<BridgeFrame> again = velmot::decode_frame(line);
    check(again.has_value(), "a re-encoded frame is accepted");
    check(same(*again, frame), "a re-encoded frame decodes to the same frame");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    const std::optional<BridgeFrame> frame = velmot::decode_frame(line);
    if (!frame) return 0;
    const auto inside = [&line](std::string_view t) {
        return t.data() >= line.data() && t.data() + t.size() <= line.data() + line.size();
    };
    if (const auto* o = std::get_if<Output>(&*frame)) {
        check(inside(text(o->bytes_base64)), "the chunk text lies in the line");
    } else if (const auto* f = std::get_if<Failure>(&*frame)) {
        check(inside(f->code) && inside(f->message), "code and message lie in the line");
    }
    check_round_trip(*frame, object_form(*frame));
    check_round_trip(*frame, array_form(*frame));
    return 0;
}
