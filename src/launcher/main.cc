// The process entry: prepare the standard descriptors and SIGPIPE, run the
// sequence, and turn its outcome into the exit status. Every failure, whatever
// its cause, ends with one fixed line on standard error and status 70.

#include "common/exit_codes.h"
#include "common/std_streams.h"
#include "launcher/process_setup.h"
#include "launcher/run.h"

namespace {

constexpr std::string_view kTransportFailureLine =
    "plugin.cli.bridge_transport_failure: Plugin CLI bridge is unavailable\n";

int transport_failure() {
    velmot::write_diagnostic_or_exit({kTransportFailureLine});
    return velmot::exit_code(velmot::LauncherExit::TransportFailure);
}

}  // namespace

int main(int argc, char** argv) {
    // Without its standard descriptors the launcher could not even report a
    // failure; 70 is the status every other unusable start ends with.
    if (!velmot::prepare_process())
        return velmot::exit_code(velmot::LauncherExit::TransportFailure);
    velmot::keep_freed_memory_for_the_run();
    const velmot::InvocationResult result = velmot::run(velmot::ArgumentVector(argc, argv));
    if (!result) {
        const int status = transport_failure();
        // The run has failed already; output lost now changes nothing.
        (void)velmot::flush_stdout_at_exit();
        return status;
    }
    // The last partial line of standard output leaves only now. Losing it is
    // a failure like any other, reported after the output that did arrive.
    if (!velmot::flush_stdout_at_exit()) return transport_failure();
    return *result;
}
