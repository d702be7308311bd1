// The ways the bridge runs. Serving and running a command are called on the
// main thread with SIGINT, SIGTERM, SIGHUP and SIGCHLD blocked in every
// thread, and wait for those signals synchronously.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "devbridge/export_lines.h"
#include "devbridge/request_log.h"

namespace velmot::devbridge {

struct BridgeAddress {
    std::string endpoint;
    std::string token;
};

// Prints the lines that set the bridge's variables on standard output,
// then points standard output at /dev/null, so that a shell reading it with
// $(...) sees its end, and closes `ready` (see detach.h). Serves until
// SIGINT, SIGTERM or SIGHUP arrives; returns the exit status, 0.
int serve_until_signalled(const BridgeAddress& address, ShellSyntax shell, UniqueFd ready,
                          const std::string& commands_dir, const RequestLog& log);

// Runs `command` (searched in PATH) with the bridge's two variables added
// to the bridge's environment and `child_mask` as its signal mask, relays
// SIGINT, SIGTERM and SIGHUP sent to the bridge by another process (a
// terminal's signals reach the command by themselves), and returns the
// command's status: its exit status, 128 plus the signal that ended it, or
// 127 or 126 when it could not be started.
int run_under_bridge(const std::vector<std::string>& command, const BridgeAddress& address,
                     const sigset_t& child_mask);

// Stops the serving bridge whose process id the PID variable holds and
// waits for it to end, then prints the lines that unset the variables.
// Returns 0, or 1 after a line on standard error.
int stop_served_bridge(ShellSyntax shell);

// The set of signals serving and running a command wait for.
sigset_t awaited_signals();

}  // namespace velmot::devbridge
