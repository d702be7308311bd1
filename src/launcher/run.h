// The run sequence: read the endpoint and token, decide the invocation's
// identity, collect the arguments, then forward them with `invoke`. It stops
// at the first failure; the steps before `invoke` write nothing and connect to
// nothing. `finish_run` then turns the outcome into the exit status.
#pragma once

#include "common/invocation_result.h"
#include "launcher/invocation.h"

namespace velmot {

InvocationResult run(const ArgumentVector& args);

// The exit status for the run's outcome, once held standard output has been
// flushed: the bridge's status, or 70 after the transport-failure line for a
// failed run and for output lost at exit (101 if that line cannot be
// written). `after_failure_line`, if given, runs right after that line.
int finish_run(InvocationResult result, void (*after_failure_line)() = nullptr);

}  // namespace velmot
