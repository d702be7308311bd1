#include "common/plugin_id.h"

#include <algorithm>

#include "common/failure_note.h"
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
    if (id == kClientId) {
        note_failure(FailureReason::NameIsLauncher);
        return false;
    }
    if (id.empty() || id.size() > kMaxPluginIdBytes) {
        note_failure(FailureReason::PluginIdLength);
        return false;
    }
    if (!is_id_start(id.front())) {
        note_failure_at(FailureReason::PluginIdStart, 0);
        return false;
    }
    // Every accepted character is a single ASCII byte, so a byte test refuses
    // every non-ASCII code point whatever the length of its encoding.
    const auto bad = std::find_if_not(id.begin(), id.end(), is_id_char);
    if (bad == id.end()) return true;
    note_failure_at(FailureReason::PluginIdByte, static_cast<std::uint64_t>(bad - id.begin()));
    return false;
}

}  // namespace velmot
