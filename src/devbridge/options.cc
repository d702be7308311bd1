#include "devbridge/options.h"

#include <string_view>

namespace velmot::devbridge {

const char kUsage[] =
    "usage: velmot_devbridge [--commands DIR] [--log FILE] [--stream] [--sh|--csh] --serve\n"
    "       velmot_devbridge [--commands DIR] [--log FILE] [--stream] -- COMMAND [ARG...]\n"
    "       velmot_devbridge [--sh|--csh] --stop\n"
    "       velmot_devbridge --help | --version\n"
    "\n"
    "Serves the launcher's bridge on 127.0.0.1, running DIR/_core for `velmot`\n"
    "and DIR/<id> for `velmot-<id>` (DIR defaults to the current directory).\n"
    "  --serve    leave the terminal, print lines that set the bridge's variables\n"
    "             and VELMOT_DEVBRIDGE_PID for eval, and serve until stopped\n"
    "  --stop     stop the bridge named by VELMOT_DEVBRIDGE_PID and print lines\n"
    "             that unset the variables\n"
    "  --sh, --csh  the shell the printed lines are for (default: from SHELL)\n"
    "  -- COMMAND run COMMAND with the bridge's variables in its environment\n"
    "             and exit with its status\n"
    "  --stream   send each command's output as it is produced\n"
    "  --log FILE append the per-request log lines to FILE (default: nowhere)\n";

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
    bool stop = false;
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
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            options.mode = arg == "--version" ? Mode::Version : Mode::Help;
            return options;
        }
        if (arg == "--serve" || arg == "--stop") {
            (arg == "--serve" ? serve : stop) = true;
        } else if (arg == "--stream") {
            options.stream = true;
        } else if (arg == "--sh" || arg == "--csh") {
            options.shell = arg == "--sh" ? ShellSyntax::Sh : ShellSyntax::Csh;
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
    if (serve + stop + !options.command.empty() != 1) {
        error = "give one of --serve, --stop or -- COMMAND";
        return std::nullopt;
    }
    options.mode = serve ? Mode::Serve : stop ? Mode::Stop : Mode::RunCommand;
    return options;
}

}  // namespace velmot::devbridge
