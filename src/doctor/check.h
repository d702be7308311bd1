// The doctor without a command: checks both variables and makes one TCP
// connection to the endpoint, sending nothing, so that no command runs.
#pragma once

namespace velmot::doctor {

// Prints what it found on standard output; returns the exit status: 0 when
// all is well, 1 otherwise.
int check_setup();

}  // namespace velmot::doctor
