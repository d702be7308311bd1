// The development bridge's command line:
//
//   velmot_devbridge [--commands DIR] [--log FILE] --serve
//   velmot_devbridge [--commands DIR] [--log FILE] -- COMMAND [ARG...]
//   velmot_devbridge --help
//
// Parsing only reads argv; the returned options copy what they keep.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmot::devbridge {

enum class Mode {
    // Serve until SIGINT, SIGTERM or SIGHUP, after printing the export lines.
    Serve,
    // Serve while one command runs with the bridge's variables set.
    RunCommand,
    Help,
};

struct Options {
    Mode mode = Mode::Help;
    // Where the commands live: DIR/core and DIR/<plugin id>.
    std::string commands_dir = ".";
    // Log lines go here, appended; standard error when absent.
    std::optional<std::string> log_file;
    // RunCommand: the command and its arguments, never empty.
    std::vector<std::string> command;
};

// The options, or nullopt with a one-line reason in `error`.
std::optional<Options> parse_options(int argc, const char* const* argv, std::string& error);

// The usage text printed for --help and after a command-line error.
extern const char kUsage[];

}  // namespace velmot::devbridge
