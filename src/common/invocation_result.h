// The result of a bridge invocation: the exit status the bridge reported, or
// a failure. A failure deliberately carries no detail: every failure ends the
// run the same way, with the transport-failure line and status 70.
#pragma once

#include <cstdint>
#include <optional>

namespace velmot {

using ExitStatus = std::uint8_t;
using InvocationResult = std::optional<ExitStatus>;

}  // namespace velmot
