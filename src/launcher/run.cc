#include "launcher/run.h"

#include "bridge/bridge_client.h"
#include "common/exit_codes.h"
#include "common/std_streams.h"
#include "launcher/endpoint.h"

namespace velmot {
namespace {

constexpr std::string_view kTransportFailureLine =
    "plugin.cli.bridge_transport_failure: Plugin CLI bridge is unavailable\n";

int transport_failure(void (*after_failure_line)()) {
    write_diagnostic_or_exit({kTransportFailureLine});
    if (after_failure_line != nullptr) after_failure_line();
    return exit_code(LauncherExit::TransportFailure);
}

}  // namespace

InvocationResult run(const ArgumentVector& args) {
    const std::optional<Endpoint> endpoint = read_endpoint();
    if (!endpoint) return std::nullopt;
    const std::optional<std::string_view> token = read_token();
    if (!token) return std::nullopt;
    const std::optional<std::string_view> name = invocation_name(args);
    if (!name) return std::nullopt;
    const std::optional<InvocationIdentity> identity = invocation_plugin(*name);
    if (!identity) return std::nullopt;
    const std::optional<std::vector<std::string_view>> arguments = collect_arguments(args);
    if (!arguments) return std::nullopt;
    return invoke(*endpoint, *token, identity->plugin_id, *arguments);
}

int finish_run(InvocationResult result, void (*after_failure_line)()) {
    if (!result) {
        const int status = transport_failure(after_failure_line);
        // The run has failed already; output lost now changes nothing.
        (void)flush_stdout_at_exit();
        return status;
    }
    // The last partial line of standard output leaves only now. Losing it is
    // a failure like any other, reported after the output that did arrive.
    if (!flush_stdout_at_exit()) return transport_failure(after_failure_line);
    return *result;
}

}  // namespace velmot
