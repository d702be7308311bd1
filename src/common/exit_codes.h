// Exit statuses the programs choose themselves, as opposed to the statuses
// the bridge reports for the forwarded command: the launcher's, and those of
// the tools beside it (the diagnosing companion, the development bridge) for
// their own command lines.
#pragma once

namespace velmot {

enum class LauncherExit : int {
    // Any failure to reach the bridge or to understand its reply.
    TransportFailure = 70,
    // A diagnostic line could not be written to standard error.
    DiagnosticUnwritable = 101,
};

enum class ToolExit : int {
    Success = 0,
    // The companion found a problem, or help or version text could not be
    // written.
    Failure = 1,
    // The tool's own options were wrong.
    UsageError = 2,
};

constexpr int exit_code(LauncherExit e) {
    return static_cast<int>(e);
}

constexpr int exit_code(ToolExit e) {
    return static_cast<int>(e);
}

}  // namespace velmot
