#include "devbridge/options.h"

#include <string_view>

namespace velmot::devbridge {

const char kUsage[] =
    "usage: velmot_devbridge [--commands DIR] [--log FILE] --serve\n"
    "       velmot_devbridge [--commands DIR] [--log FILE] -- COMMAND [ARG...]\n"
    "\n"
    "Serves the launcher's bridge on 127.0.0.1, running DIR/core for `velmot`\n"
    "and DIR/<id> for `velmot-<id>` (DIR defaults to the current directory).\n"
    "  --serve    print the two export lines for a shell, then serve until\n"
    "             interrupted\n"
    "  -- COMMAND run COMMAND with the bridge's variables in its environment\n"
    "             and exit with its status\n"
    "  --log FILE append the per-request log lines to FILE, not standard error\n";

namespace {

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
// Advances `i` past a separate value.
std::optional<std::string> option_value(std::string_view name, int argc, const char* const* argv,
                                        int& i) {
    const std::string_view arg = argv[i];
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        return std::string(arg.substr(name.size() + 1));
    }
    if (i + 1 >= argc) return std::nullopt;
    return std::string(argv[++i]);
}

bool names(std::string_view arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                           arg[name.size()] == '=');
}

}  // namespace

std::optional<Options> parse_options(int argc, const char* const* argv, std::string& error) {
    Options options;
    bool serve = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i)
                options.command.emplace_back(argv[i]);
            if (options.command.empty()) {
                error = "-- needs a command to run";
                return std::nullopt;
            }
            break;
        }
        if (arg == "--help" || arg == "-h") {
            options.mode = Mode::Help;
            return options;
        }
        if (arg == "--serve") {
            serve = true;
        } else if (names(arg, "--commands") || names(arg, "--log")) {
            const bool is_log = names(arg, "--log");
            auto value = option_value(is_log ? "--log" : "--commands", argc, argv, i);
            if (!value || value->empty()) {
                error = std::string(arg) + " needs a non-empty value";
                return std::nullopt;
            }
            if (is_log) {
                options.log_file = std::move(*value);
            } else {
                options.commands_dir = std::move(*value);
            }
        } else {
            error = "unknown option: " + std::string(arg);
            return std::nullopt;
        }
    }
    if (serve == !options.command.empty()) {
        error = "give either --serve or -- COMMAND";
        return std::nullopt;
    }
    options.mode = serve ? Mode::Serve : Mode::RunCommand;
    return options;
}

}  // namespace velmot::devbridge
