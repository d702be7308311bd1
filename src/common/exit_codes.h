// Exit statuses the launcher chooses itself, as opposed to the statuses the
// bridge reports for the forwarded command.
#pragma once

namespace velmot {

enum class LauncherExit : int {
    // Any failure to reach the bridge or to understand its reply.
    TransportFailure = 70,
    // A diagnostic line could not be written to standard error.
    DiagnosticUnwritable = 101,
};

constexpr int exit_code(LauncherExit e) {
    return static_cast<int>(e);
}

}  // namespace velmot
