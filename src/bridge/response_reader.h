// Reads the bridge's reply on a connected socket: the HTTP/1.1 status line,
// the header section with its Content-Length, then the body one line at a
// time, each line decoded and handled before the next is read, so output is
// replayed while the command still runs. Returns the terminal frame's exit
// status once the body has ended exactly at Content-Length, or failure.
#pragma once

#include "common/invocation_result.h"

namespace velmot {

// Borrows `socket_fd`; the caller closes it.
InvocationResult read_response(int socket_fd);

}  // namespace velmot
