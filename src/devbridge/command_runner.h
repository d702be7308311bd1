// Running one command for one request: the command's standard output and
// standard error are captured through two pipes and handed to a sink chunk
// by chunk, in the order they are read; standard input is /dev/null; the
// environment is the one the bridge gives every command. The sink may
// refuse a chunk, which ends the command at once (its whole process group
// is killed).
//
// While the command runs, its client's connection is watched: when the
// client goes away, the command's process group gets SIGTERM and, after a
// grace, SIGKILL. Once the command itself has ended, whatever it left
// behind holding its pipes gets a short grace, then the pipes are closed.
#pragma once

#include <signal.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/output_channel.h"
#include "devbridge/process_registry.h"

namespace velmot::devbridge {

// Takes one chunk of 1 to kMaxChunkBytes bytes; false refuses it.
using OutputSink = std::function<bool(OutputChannel, std::string_view)>;

struct CommandResult {
    enum class End {
        // The command ended by itself (or by a signal): see `status`.
        Exited,
        // The sink refused a chunk and the command was killed.
        Refused,
        // The command could not be started: see `error` (an errno value).
        NotStarted,
        // The bridge is stopping and starts no more commands.
        Stopping,
        // Its output or its end could not be read; it was killed.
        Lost,
        // Its client went away; it was stopped.
        Abandoned,
    };
    End end = End::Exited;
    // Exited: the exit status, or 128 plus the number of the signal.
    std::uint8_t status = 0;
    int error = 0;
};

struct CommandContext {
    ProcessRegistry& registry;
    // The signal mask a command starts with: the one the bridge had before
    // it blocked the signals it waits for.
    const sigset_t& child_mask;
    // "NAME=value" entries: the bridge's own environment with its two
    // variables, so that a command can itself call launchers.
    const std::vector<std::string>& environment;
};

// Runs `path` with `args` (argv[0] is `path` itself) until it has ended and
// its output streams have closed or had their grace. `client_fd` is the
// connection to watch, or -1.
CommandResult run_command(const std::string& path, const std::vector<std::string>& args,
                          const CommandContext& context, int client_fd, const OutputSink& sink);

}  // namespace velmot::devbridge
