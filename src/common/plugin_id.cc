#include "common/plugin_id.h"

#include <algorithm>

#include "common/limits.h"

namespace velmot {
namespace {

constexpr std::string_view kClientId = "plugin-cli-client";

bool is_id_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_id_char(char c) {
    return is_id_start(c) || c == '.' || c == '_' || c == '-';
}

}  // namespace

bool is_valid_plugin_id(std::string_view id) {
    if (id.empty() || id.size() > kMaxPluginIdBytes || id == kClientId) return false;
    // Every accepted character is a single ASCII byte, so a byte test refuses
    // every non-ASCII code point whatever the length of its encoding.
    return is_id_start(id.front()) && std::all_of(id.begin(), id.end(), is_id_char);
}

}  // namespace velmot
