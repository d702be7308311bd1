// The ways the bridge runs. Serving and running a command are called on the
// main thread with the stop signals and SIGCHLD blocked in every thread,
// and wait for those signals synchronously.
#pragma once

#include <signal.h>

#include <optional>
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
// then points standard input and output at /dev/null and standard error at
// the log, so that a shell reading it with $(...) sees its end, and closes
// `ready` (see detach.h). Serves until a stop signal arrives; returns the
// exit status, 0.
int serve_until_signalled(const BridgeAddress& address, ShellSyntax shell, UniqueFd ready,
                          const std::string& commands_dir, const RequestLog& log);

// Runs `command` (searched in PATH) with the bridge's two variables added
// to the bridge's environment and `child_mask` as its signal mask, relays
// the stop signals sent to the bridge by another process (a
// terminal's signals reach the command by themselves), and returns the
// command's status: its exit status, 128 plus the signal that ended it, or
// 127 or 126 when it could not be started.
int run_under_bridge(const std::vector<std::string>& command, const BridgeAddress& address,
                     const sigset_t& child_mask);

// Stops the serving bridge whose process id the PID variable holds and
// waits for it to end, then prints the lines that unset the variables.
// Returns 0, or 1 after a line on standard error.
int stop_served_bridge(ShellSyntax shell);

// When the PID variable names a development bridge that is running, the
// status to refuse --serve with, after a line that names it and says how
// to stop it: one shell has one bridge, which --stop can reach.
std::optional<int> refuse_second_bridge();

// The signals that stop the bridge as SIGTERM does: every one whose default
// action ends a process and that a process sends rather than a fault
// raises (those still end it at once), and the real-time signals. SIGPIPE
// is left out: the bridge ignores it.
inline constexpr int kStopSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM,  SIGUSR1,
                                       SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,  SIGIO,
                                       SIGXCPU, SIGXFSZ, SIGPWR,    SIGSTKFLT};
sigset_t stop_signals();
// The stop signals and SIGCHLD: what serving and running a command wait for.
sigset_t awaited_signals();
// A signal ignored when it arrives is lost even while blocked, so the stop
// signals get their default action back (a shell ignores SIGINT and
// SIGQUIT for commands it starts in the background).
void default_stop_signal_actions();

}  // namespace velmot::devbridge
