#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "common/descriptor_io.h"
#include "common/system_calls.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/spawn.h"

namespace velmot::devbridge {

namespace {

int shell_status(int wait_status) {
    if (WIFSIGNALED(wait_status)) return kSignalStatusBase + WTERMSIG(wait_status);
    return WEXITSTATUS(wait_status);
}

// A signal that a process sent to the bridge alone is passed on; one that
// the terminal sent to the whole foreground process group has reached the
// command already.
bool sent_to_bridge_alone(const siginfo_t& info) {
    return info.si_code == SI_USER || info.si_code == SI_QUEUE;
}

int wait_relaying_signals(pid_t child) {
    const sigset_t signals = awaited_signals();
    for (;;) {
        siginfo_t info;
        const int signal = sys::sigwaitinfo(&signals, &info);
        if (signal < 0) continue;
        if (signal != SIGCHLD) {
            if (sent_to_bridge_alone(info)) ::kill(child, signal);
            continue;
        }
        // Commands of requests end too; only this child ends the run.
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) return shell_status(status);
    }
}

}  // namespace

int run_under_bridge(const std::vector<std::string>& command, const BridgeAddress& address,
                     const sigset_t& child_mask) {
    SpawnPlan plan;
    plan.reset_signals(child_mask);
    int error = 0;
    const pid_t child =
        plan.spawn(command, bridge_environment(address.endpoint, address.token), true, error);
    if (child < 0) {
        const std::string line =
            "velmot_devbridge: cannot run " + command[0] + ": " + std::strerror(error) + "\n";
        (void)write_all(STDERR_FILENO, line);
        return error == ENOENT ? kStatusNotFound : kStatusNotExecutable;
    }
    return wait_relaying_signals(child);
}

}  // namespace velmot::devbridge
