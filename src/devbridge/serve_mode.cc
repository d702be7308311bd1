#include <fcntl.h>
#include <unistd.h>

#include "common/descriptor_io.h"
#include "common/system_calls.h"
#include "common/unique_fd.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/export_lines.h"

namespace velmot::devbridge {

namespace {

// Hands the lines over and lets go of every descriptor it shares with its
// caller: standard input and output go to /dev/null, standard error to the
// log, so that a caller reading any of them, as $(...) and test harnesses
// do, sees their end. Then tells the process that started the bridge that
// it may end.
bool publish(const BridgeAddress& address, ShellSyntax shell, const std::string& pid,
             UniqueFd ready, int log_fd) {
    const std::string lines = export_lines(shell, address.endpoint, address.token, pid);
    if (!write_all(STDOUT_FILENO, lines)) return false;
    const UniqueFd null(sys::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.valid() || ::dup2(null.get(), STDIN_FILENO) != STDIN_FILENO ||
        ::dup2(null.get(), STDOUT_FILENO) != STDOUT_FILENO ||
        ::dup2(log_fd, STDERR_FILENO) != STDERR_FILENO) {
        return false;
    }
    return write_all(ready.get(), "1");
}

}  // namespace

sigset_t stop_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : kStopSignals)
        sigaddset(&signals, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&signals, signal);
    return signals;
}

sigset_t awaited_signals() {
    sigset_t signals = stop_signals();
    sigaddset(&signals, SIGCHLD);
    return signals;
}

void default_stop_signal_actions() {
    for (const int signal : kStopSignals)
        ::signal(signal, SIG_DFL);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        ::signal(signal, SIG_DFL);
}

int serve_until_signalled(const BridgeAddress& address, ShellSyntax shell, UniqueFd ready,
                          const std::string& commands_dir, const RequestLog& log) {
    const std::string pid = std::to_string(::getpid());
    if (!publish(address, shell, pid, std::move(ready), log.fd())) {
        log.note("cannot write the export lines to standard output");
        return 1;
    }
    log.note("serving " + commands_dir + " at " + address.endpoint + " (pid " + pid +
             "); stop it with velmot_devbridge --stop or kill " + pid);
    const sigset_t signals = stop_signals();
    const int signal = sys::sigwaitinfo(&signals, nullptr);
    log.note("stopping on signal " + std::to_string(signal));
    return 0;
}

}  // namespace velmot::devbridge
