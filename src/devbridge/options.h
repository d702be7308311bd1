// The development bridge's command line:
//
//   velmot_devbridge [--commands DIR] [--log FILE] [--stream] [--sh|--csh] --serve
//   velmot_devbridge [--commands DIR] [--log FILE] [--stream] -- COMMAND [ARG...]
//   velmot_devbridge [--sh|--csh] --stop
//   velmot_devbridge --help | --version
//
// Parsing only reads argv; the returned options copy what they keep.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devbridge/export_lines.h"

namespace velmot::devbridge {

enum class Mode {
    // Detach, print the shell lines, serve until SIGINT, SIGTERM or SIGHUP.
    Serve,
    // Serve while one command runs with the bridge's variables set.
    RunCommand,
    // End the bridge named by the PID variable; print the lines that unset
    // the variables.
    Stop,
    Help,
    Version,
};

struct Options {
    Mode mode = Mode::Help;
    // Where the commands live: DIR/_core and DIR/<plugin id>.
    std::string commands_dir = ".";
    // Log lines go here, appended. Absent: standard error when serving,
    // nowhere when running a command, whose own errors go to standard error.
    std::optional<std::string> log_file;
    // Send each reply's frames as the command produces them.
    bool stream = false;
    // The shell the printed lines are for; absent: csh if SHELL ends in
    // "csh", else sh.
    std::optional<ShellSyntax> shell;
    // RunCommand: the command and its arguments, never empty.
    std::vector<std::string> command;
};

// The options, or nullopt with a one-line reason in `error`.
std::optional<Options> parse_options(int argc, const char* const* argv, std::string& error);

// The usage text printed for --help and after a command-line error.
extern const char kUsage[];

}  // namespace velmot::devbridge
