// Reading the launcher's request body: a JSON object with exactly the
// members protocol_version (1), kind ("core_cli_invoke" or
// "plugin_cli_invoke"), plugin_id (a valid plug-in id, present exactly for a
// plug-in invocation) and argv (up to 64 texts of up to 4096 characters,
// without NUL, which no command line can carry).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmot::devbridge {

struct InvocationCall {
    // Absent for a core invocation.
    std::optional<std::string> plugin_id;
    std::vector<std::string> argv;
};

// The decoded request, or nullopt with a one-line reason in `why`, which the
// bridge sends back with status 400.
std::optional<InvocationCall> parse_invocation_request(std::string_view body, std::string& why);

}  // namespace velmot::devbridge
