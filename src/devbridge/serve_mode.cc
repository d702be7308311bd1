#include <fcntl.h>
#include <unistd.h>

#include "common/descriptor_io.h"
#include "common/unique_fd.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/export_lines.h"

namespace velmot::devbridge {

namespace {

// Hands the lines over and lets go of standard output, then tells the
// process that started the bridge that it may end.
bool publish(const BridgeAddress& address, ShellSyntax shell, const std::string& pid,
             UniqueFd ready) {
    const std::string lines = export_lines(shell, address.endpoint, address.token, pid);
    if (!write_all(STDOUT_FILENO, lines)) return false;
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!null.valid() || ::dup2(null.get(), STDOUT_FILENO) != STDOUT_FILENO) return false;
    return write_all(ready.get(), "1");
}

}  // namespace

sigset_t awaited_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&signals, signal);
    return signals;
}

int serve_until_signalled(const BridgeAddress& address, ShellSyntax shell, UniqueFd ready,
                          const std::string& commands_dir, const RequestLog& log) {
    const std::string pid = std::to_string(::getpid());
    if (!publish(address, shell, pid, std::move(ready))) {
        log.note("cannot write the export lines to standard output");
        return 1;
    }
    log.note("serving " + commands_dir + " at " + address.endpoint + " (pid " + pid +
             "); stop it with velmot_devbridge --stop or kill " + pid);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop_signals, signal);
    while (::sigwaitinfo(&stop_signals, nullptr) < 0) {
    }
    log.note("stopping");
    return 0;
}

}  // namespace velmot::devbridge
