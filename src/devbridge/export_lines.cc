#include "devbridge/export_lines.h"

namespace velmot::devbridge {

std::string shell_quote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

std::string export_lines(std::string_view endpoint, std::string_view token) {
    std::string lines;
    for (const auto& [name, value] :
         {std::pair<std::string_view, std::string_view>{kEndpointVariable, endpoint},
          {kTokenVariable, token}}) {
        lines.append("export ").append(name).append("=").append(shell_quote(value));
        lines.push_back('\n');
    }
    return lines;
}

}  // namespace velmot::devbridge
