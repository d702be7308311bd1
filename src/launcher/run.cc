#include "launcher/run.h"

#include "bridge/bridge_client.h"
#include "launcher/endpoint.h"

namespace velmot {

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

}  // namespace velmot
