#include "devbridge/invocation_request.h"

#include <boost/json.hpp>

#include "common/limits.h"
#include "common/plugin_id.h"
#include "common/utf8.h"

namespace velmot::devbridge {

namespace json = boost::json;

namespace {

constexpr std::string_view kMembers[] = {"protocol_version", "kind", "plugin_id", "argv"};

bool is_known_member(std::string_view key) {
    for (const auto member : kMembers) {
        if (key == member) return true;
    }
    return false;
}

bool is_protocol_version(const json::value* value) {
    if (value == nullptr) return false;
    if (value->is_int64()) return value->get_int64() == kProtocolVersion;
    if (value->is_uint64()) return value->get_uint64() == kProtocolVersion;
    return false;
}

// The kind decides whether a plug-in id must be present: nullopt for an
// unknown kind, else whether it names a plug-in invocation.
std::optional<bool> plugin_kind(const json::value* value) {
    if (value == nullptr || !value->is_string()) return std::nullopt;
    const json::string& kind = value->get_string();
    if (kind == "plugin_cli_invoke") return true;
    if (kind == "core_cli_invoke") return false;
    return std::nullopt;
}

bool is_forwardable_argument(std::string_view text) {
    return text.find('\0') == std::string_view::npos &&
           count_scalars(text) <= kMaxArgumentCharacters;
}

std::optional<std::vector<std::string>> read_argv(const json::value* value, std::string& why) {
    if (value == nullptr || !value->is_array()) {
        why = "argv must be an array of strings";
        return std::nullopt;
    }
    const json::array& items = value->get_array();
    if (items.size() > kMaxArguments) {
        why = "argv has more than 64 entries";
        return std::nullopt;
    }
    std::vector<std::string> argv;
    argv.reserve(items.size());
    for (const json::value& item : items) {
        if (!item.is_string()) {
            why = "argv must be an array of strings";
            return std::nullopt;
        }
        const std::string_view text = item.get_string();
        if (!is_forwardable_argument(text)) {
            why = "an argv entry holds NUL or more than 4096 characters";
            return std::nullopt;
        }
        argv.emplace_back(text);
    }
    return argv;
}

std::optional<InvocationCall> read_call(const json::object& request, std::string& why) {
    for (const auto& member : request) {
        if (!is_known_member(member.key())) {
            why = "unknown member \"" + std::string(member.key()) + "\"";
            return std::nullopt;
        }
    }
    if (!is_protocol_version(request.if_contains("protocol_version"))) {
        why = "protocol_version must be 1";
        return std::nullopt;
    }
    const auto for_plugin = plugin_kind(request.if_contains("kind"));
    if (!for_plugin) {
        why = "kind must be \"core_cli_invoke\" or \"plugin_cli_invoke\"";
        return std::nullopt;
    }
    InvocationCall call;
    const json::value* id = request.if_contains("plugin_id");
    if ((id != nullptr) != *for_plugin) {
        why = *for_plugin ? "plugin_id is missing" : "a core invocation has no plugin_id";
        return std::nullopt;
    }
    if (id != nullptr) {
        if (!id->is_string() || !is_valid_plugin_id(id->get_string())) {
            why = "plugin_id is not a valid plug-in id";
            return std::nullopt;
        }
        call.plugin_id = std::string(id->get_string());
    }
    auto argv = read_argv(request.if_contains("argv"), why);
    if (!argv) return std::nullopt;
    call.argv = std::move(*argv);
    return call;
}

// The number of members of the top-level object in `text`, which is known
// to be valid JSON: the colons outside strings at nesting depth one. The
// parsed object keeps only one of several members with the same name, so a
// count above its size means a name was repeated.
std::size_t top_level_members(std::string_view text) {
    std::size_t members = 0;
    int depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') ++i;
            in_string = c != '"';
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ':' && depth == 1) {
            ++members;
        }
    }
    return members;
}

}  // namespace

std::optional<InvocationCall> parse_invocation_request(std::string_view body, std::string& why) {
    json::error_code ec;
    const json::value request = json::parse(body, ec);
    if (ec) {
        why = "the body is not JSON: " + ec.message();
        return std::nullopt;
    }
    if (!request.is_object()) {
        why = "the body is not a JSON object";
        return std::nullopt;
    }
    if (top_level_members(body) != request.get_object().size()) {
        why = "a member is given more than once";
        return std::nullopt;
    }
    return read_call(request.get_object(), why);
}

}  // namespace velmot::devbridge
