// What the user's shell does with a command name: where PATH finds it, and
// whether that file is this launcher or a link to it. The doctor runs the
// command in its own process whatever the answer, so a name that works under
// the doctor may still be "command not found" when typed; this says so, with
// the link that fixes it.
#pragma once

#include <string>
#include <string_view>

namespace velmot::doctor {

// The doctor's lines about `name` (velmot or velmot-<plugin id>; a name with a
// "/" is taken as the path the shell would run). Empty for any other name,
// which no link should exist for. "This launcher" is the launcher installed
// beside the doctor.
std::string check_name_on_path(std::string_view name);

}  // namespace velmot::doctor
