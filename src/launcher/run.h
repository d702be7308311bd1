// The run sequence: read the endpoint and token, decide the invocation's
// identity, collect the arguments, then forward them with `invoke`. It stops
// at the first failure; the steps before `invoke` write nothing and connect to
// nothing.
#pragma once

#include "common/invocation_result.h"
#include "launcher/invocation.h"

namespace velmot {

InvocationResult run(const ArgumentVector& args);

}  // namespace velmot
