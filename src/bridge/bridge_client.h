// The bridge client's entry: one invocation forwarded to the bridge over one
// HTTP/1.1 POST on 127.0.0.1, its output replayed on the launcher's own
// standard output and standard error as it arrives.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "common/endpoint.h"
#include "common/invocation_result.h"

namespace velmot {

// Sends the request built from the borrowed inputs, replays the reply and
// returns the exit status the bridge reported, or failure. The connection is
// closed on every path before it returns.
InvocationResult invoke(const Endpoint& endpoint, std::string_view token,
                        std::optional<std::string_view> plugin_id,
                        std::span<const std::string_view> arguments);

}  // namespace velmot
