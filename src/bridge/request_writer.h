// The invocation request: the compact JSON body of one `InvocationRequest`
// and the HTTP/1.1 head that carries it to the bridge.
//
// The body is built once, before any connection exists, in a buffer that
// starts with room for 128 bytes and grows as needed; the caller owns it. The
// head is never assembled in memory: its literal pieces and field values go
// to the socket as one gathered send, followed by the body.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/endpoint.h"

namespace velmot {

// {"protocol_version":1,"kind":...,["plugin_id":...,]"argv":[...]}: no white
// space outside strings, strings written by `append_json_string`.
std::string build_request_body(std::optional<std::string_view> plugin_id,
                               std::span<const std::string_view> arguments);

// Sends the head ("POST {path} HTTP/1.1", Host, Content-Type, the token
// header, Content-Length, "Connection: close", the empty line) and then the
// body on the connected socket `socket_fd`, which stays the caller's.
// Returns false on any send error, on a send that accepts nothing, and when a
// send blocks past the socket's send time limit.
[[nodiscard]] bool send_request(int socket_fd, const Endpoint& endpoint, std::string_view token,
                                std::string_view body);

}  // namespace velmot
