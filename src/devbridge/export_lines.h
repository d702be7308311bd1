// The two lines that give a shell the bridge's variables, for
// `eval "$(velmot_devbridge --serve ...)"`:
//
//   export VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT='http://127.0.0.1:PORT/plugin-cli'
//   export VELMOT_INTERNAL_PLUGIN_CLI_TOKEN='...'
#pragma once

#include <string>
#include <string_view>

#include "common/endpoint.h"

namespace velmot::devbridge {

// `text` in single quotes for a POSIX shell; a single quote inside becomes
// '\'' (end quote, escaped quote, new quote).
std::string shell_quote(std::string_view text);

// Both export lines, each ending in a line feed.
std::string export_lines(std::string_view endpoint, std::string_view token);

}  // namespace velmot::devbridge
