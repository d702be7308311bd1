// The one TCP connection to the bridge on 127.0.0.1: connecting within the
// connect time limit, the per-socket receive and send time limits, and
// complete gathered sends that never raise SIGPIPE.
//
// `connect_to_bridge` hands back the connected socket as a `UniqueFd`; the
// socket is closed on every failure path before it returns, and by the
// owner otherwise.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <optional>

#include "common/unique_fd.h"
#include "launcher/endpoint.h"

namespace velmot {

// Opens a close-on-exec stream socket to `endpoint.host`:`endpoint.port`
// (a numeric IPv4 address; no name is looked up) and connects within 3
// seconds, counted from the start of the attempt. A refused connection fails
// at once. On success the socket is blocking, with a receive time limit of
// 300 seconds and a send time limit of 10 seconds per call.
std::optional<UniqueFd> connect_to_bridge(const Endpoint& endpoint);

// Sends the pieces in order as one stream, continuing after partial sends
// and retrying interrupted ones. The pieces' iov_base/iov_len are adjusted in
// place. Fails on any send error (a closed peer and the send time limit
// included) and on a send that accepts nothing.
[[nodiscard]] bool send_all_gathered(int socket_fd, struct iovec* pieces, std::size_t count);

}  // namespace velmot
