#include "devbridge/export_lines.h"

#include <utility>

namespace velmot::devbridge {

namespace {

constexpr std::string_view kNames[] = {kEndpointVariable, kTokenVariable, kPidVariable};

}  // namespace

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

std::string export_lines(ShellSyntax shell, std::string_view endpoint, std::string_view token,
                         std::string_view pid) {
    const std::string_view values[] = {endpoint, token, pid};
    std::string lines;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        const std::string value = shell_quote(values[i]);
        if (shell == ShellSyntax::Sh) {
            lines.append("export ").append(kNames[i]).append("=").append(value).append("\n");
        } else {
            lines.append("setenv ").append(kNames[i]).append(" ").append(value).append(";\n");
        }
    }
    return lines;
}

std::string unset_lines(ShellSyntax shell) {
    std::string lines;
    for (const auto name : kNames) {
        lines.append(shell == ShellSyntax::Sh ? "unset " : "unsetenv ").append(name).append(";\n");
    }
    return lines;
}

}  // namespace velmot::devbridge
