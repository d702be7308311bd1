#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/descriptor_io.h"
#include "common/system_calls.h"
#include "common/unique_fd.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

namespace {

// Long enough for a bridge to end its commands and answer their launchers.
constexpr int kStopWaitMs = 3 * kShutdownGraceMs;

int complain(std::string_view what) {
    (void)write_all(STDERR_FILENO, "velmot_devbridge: " + std::string(what) + "\n");
    return 1;
}

std::optional<pid_t> read_pid(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > 4'194'304) return std::nullopt;
        value = value * 10 + (*c - '0');
    }
    if (value <= 1) return std::nullopt;
    return static_cast<pid_t>(value);
}

// The name of the executable a process runs, without " (deleted)" when the
// file was replaced since it started.
std::string executable_name(const std::string& proc_entry) {
    char target[4096];
    const ssize_t length = sys::readlink(proc_entry.c_str(), target, sizeof target);
    if (length <= 0) return {};
    std::string_view path(target, static_cast<std::size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.remove_suffix(kDeleted.size());
    return std::string(path.substr(path.rfind('/') + 1));
}

bool is_bridge(pid_t pid) {
    return executable_name("/proc/" + std::to_string(pid) + "/exe") ==
           executable_name("/proc/self/exe");
}

}  // namespace

std::optional<int> refuse_second_bridge() {
    const auto pid = read_pid(std::getenv(kPidVariable));
    if (!pid) return std::nullopt;
    const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0)));
    if (!process.valid() || !is_bridge(*pid)) return std::nullopt;
    complain("the bridge " + std::to_string(*pid) + " that " + kPidVariable +
             " names is still serving; stop it first with: eval \"$(velmot_devbridge --stop)\"");
    return 1;
}

int stop_served_bridge(ShellSyntax shell) {
    const char* named = std::getenv(kPidVariable);
    if (named == nullptr || *named == '\0') {
        return complain(std::string(kPidVariable) +
                        " is not set: this shell has no bridge started with --serve");
    }
    const auto pid = read_pid(named);
    if (!pid) return complain(std::string(kPidVariable) + " does not name a bridge's process");
    // Signalled through a descriptor of the process, so that a process id
    // reused after the check cannot receive the signal.
    const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0)));
    if (!process.valid()) return complain("no process " + std::to_string(*pid));
    if (!is_bridge(*pid)) {
        return complain("process " + std::to_string(*pid) + " is no development bridge");
    }
    if (::syscall(SYS_pidfd_send_signal, process.get(), SIGTERM, nullptr, 0) != 0) {
        return complain("cannot signal process " + std::to_string(*pid));
    }
    struct pollfd ended = {process.get(), POLLIN, 0};
    if (sys::poll(&ended, 1, kStopWaitMs) != 1) {
        return complain("process " + std::to_string(*pid) + " has not ended yet");
    }
    return write_all(STDOUT_FILENO, unset_lines(shell)) ? 0 : 1;
}

}  // namespace velmot::devbridge
