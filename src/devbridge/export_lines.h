// The lines that give a shell the bridge's variables, for
// `eval "$(velmot_devbridge --serve ...)"`, and the lines that take them
// away again after `--stop`. For sh:
//
//   export VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT='http://127.0.0.1:PORT/plugin-cli'
//   export VELMOT_INTERNAL_PLUGIN_CLI_TOKEN='...'
//   export VELMOT_DEVBRIDGE_PID='1234'
//
// and for csh the same as `setenv NAME 'value';`.
#pragma once

#include <string>
#include <string_view>

#include "common/endpoint.h"

namespace velmot::devbridge {

// The variable that names the serving bridge's process, for --stop.
inline constexpr char kPidVariable[] = "VELMOT_DEVBRIDGE_PID";

enum class ShellSyntax { Sh, Csh };

// `text` in single quotes; a single quote inside becomes '\'' (end quote,
// escaped quote, new quote), which both shells read back as one quote.
std::string shell_quote(std::string_view text);

// The three lines that set the variables, each ending in a line feed.
std::string export_lines(ShellSyntax shell, std::string_view endpoint, std::string_view token,
                         std::string_view pid);

// The lines that unset the three variables.
std::string unset_lines(ShellSyntax shell);

}  // namespace velmot::devbridge
