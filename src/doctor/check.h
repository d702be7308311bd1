// The doctor without a command: checks both variables, connects to the
// endpoint, and sends the bridge one request that names no command, so that
// nothing can run on any bridge, to see who answers and how. It reports only
// what it saw: a bridge may refuse such a request before it looks at the
// token, so only a refusal of the token itself says anything about it.
#pragma once

namespace velmot::doctor {

// Prints what it found on standard output; returns the exit status: 0 when
// no problem was found, 1 otherwise.
int check_setup();

}  // namespace velmot::doctor
