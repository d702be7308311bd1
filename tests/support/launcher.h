// Starting the built launcher against a bridge, for end-to-end tests: the
// child plan with both environment variables set, and the one line every
// failed run ends with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace velmot::testing {

inline constexpr std::string_view kTransportFailureLine =
    "plugin.cli.bridge_transport_failure: Plugin CLI bridge is unavailable\n";

inline constexpr std::string_view kTestToken = "t0ken";

// `argv` holds argv[0] (the invocation name, any path) and the arguments.
inline ChildSpec launcher_spec(std::string_view endpoint, std::vector<std::string> argv,
                               std::string_view token = kTestToken) {
    ChildSpec plan;
    plan.argv = std::move(argv);
    plan.env = {"VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=" + std::string(endpoint),
                "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=" + std::string(token)};
    return plan;
}

}  // namespace velmot::testing
