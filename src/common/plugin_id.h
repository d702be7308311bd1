// The plug-in id rule: 1 to 128 bytes of "a" to "z", "0" to "9", ".", "_"
// and "-", the first a letter or digit. "plugin-cli-client" is not an id,
// since "velmot-plugin-cli-client" is the launcher's own file name. The
// launcher takes the id from its name ("velmot-<id>"); the development bridge
// accepts exactly the ids such a name can carry.
#pragma once

#include <string_view>

namespace velmot {

bool is_valid_plugin_id(std::string_view id);

}  // namespace velmot
