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

// What a run should end with: its exit status and the exact bytes of both
// streams.
struct Expected {
    int status;
    std::string out;
    std::string err;
};

inline Expected success(int status, std::string out = "", std::string err = "") {
    return {status, std::move(out), std::move(err)};
}

// A failed run: whatever was replayed before the failure, then the line.
inline Expected transport_failure(std::string out = "", std::string err = "") {
    return {70, std::move(out), std::move(err) + std::string(kTransportFailureLine)};
}

// `argv` holds argv[0] (the invocation name, any path) and the arguments.
inline ChildPlan launcher_plan(std::string_view endpoint, std::vector<std::string> argv,
                               std::string_view token = kTestToken) {
    ChildPlan plan;
    plan.argv = std::move(argv);
    plan.env = {"VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=" + std::string(endpoint),
                "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=" + std::string(token)};
    return plan;
}

}  // namespace velmot::testing
