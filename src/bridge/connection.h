// The one TCP connection to the bridge on 127.0.0.1: connecting within the
// connect time limit, with the per-socket receive and send time limits.
//
// `connect_to_bridge` hands back the connected socket as a `UniqueFd`; the
// socket is closed on every failure path before it returns, and by the
// owner otherwise.
#pragma once

#include <optional>

#include "common/endpoint.h"
#include "common/unique_fd.h"

namespace velmot {

// Opens a close-on-exec stream socket to `endpoint.host`:`endpoint.port`
// (a numeric IPv4 address; no name is looked up) and connects within 3
// seconds, counted from the start of the attempt. A refused connection fails
// at once. On success the socket is blocking, with a receive time limit of
// 300 seconds and a send time limit of 10 seconds per call.
std::optional<UniqueFd> connect_to_bridge(const Endpoint& endpoint);

}  // namespace velmot
