// The two ways the bridge runs once it is listening. Both are called on the
// main thread with SIGINT, SIGTERM, SIGHUP and SIGCHLD blocked in every
// thread, and wait for those signals synchronously.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "devbridge/request_log.h"

namespace velmot::devbridge {

struct BridgeAddress {
    std::string endpoint;
    std::string token;
};

// Prints the export lines on standard output, then points standard output
// at /dev/null, so that a shell reading it with $(...) sees its end. Serves
// until SIGINT, SIGTERM or SIGHUP arrives; returns the exit status, 0.
int serve_until_signalled(const BridgeAddress& address, const std::string& commands_dir,
                          const RequestLog& log);

// Runs `command` (searched in PATH) with the bridge's two variables added
// to the bridge's environment and `child_mask` as its signal mask, relays
// SIGINT, SIGTERM and SIGHUP sent to the bridge by another process (a
// terminal's signals reach the command by themselves), and returns the
// command's status: its exit status, 128 plus the signal that ended it, or
// 127 or 126 when it could not be started.
int run_under_bridge(const std::vector<std::string>& command, const BridgeAddress& address,
                     const sigset_t& child_mask);

// The set of signals both modes wait for.
sigset_t awaited_signals();

}  // namespace velmot::devbridge
