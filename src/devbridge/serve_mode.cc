#include <fcntl.h>
#include <unistd.h>

#include "common/descriptor_io.h"
#include "common/unique_fd.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/export_lines.h"

namespace velmot::devbridge {

namespace {

// Hands the export lines over and lets go of standard output.
bool publish(const BridgeAddress& address) {
    if (!write_all(STDOUT_FILENO, export_lines(address.endpoint, address.token))) return false;
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    return null.valid() && ::dup2(null.get(), STDOUT_FILENO) == STDOUT_FILENO;
}

}  // namespace

sigset_t awaited_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&signals, signal);
    return signals;
}

int serve_until_signalled(const BridgeAddress& address, const std::string& commands_dir,
                          const RequestLog& log) {
    if (!publish(address)) {
        log.note("cannot write the export lines to standard output");
        return 1;
    }
    const std::string pid = std::to_string(::getpid());
    log.note("serving " + commands_dir + " at " + address.endpoint + " (pid " + pid +
             "); stop it with Ctrl-C or kill " + pid);
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
