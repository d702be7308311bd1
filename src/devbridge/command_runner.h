// Running one command for one request: the command's standard output and
// standard error are captured through two pipes and handed to a sink chunk
// by chunk, in the order they are read; standard input is /dev/null; the
// environment is the bridge's own. The sink may refuse a chunk, which ends
// the command at once (its whole process group is killed).
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
};

// Runs `path` with `args` (argv[0] is `path` itself) and waits for it to end
// and for both of its output streams to close.
CommandResult run_command(const std::string& path, const std::vector<std::string>& args,
                          const CommandContext& context, const OutputSink& sink);

}  // namespace velmot::devbridge
