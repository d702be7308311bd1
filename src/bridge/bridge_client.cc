#include "bridge/bridge_client.h"

#include <string>

#include "bridge/connection.h"
#include "bridge/request_writer.h"
#include "bridge/response_reader.h"

namespace velmot {

InvocationResult invoke(const Endpoint& endpoint, std::string_view token,
                        std::optional<std::string_view> plugin_id,
                        std::span<const std::string_view> arguments) {
    // The body is complete before any connection is made; its length is the
    // Content-Length of the head.
    const std::string body = build_request_body(plugin_id, arguments);
    const std::optional<UniqueFd> socket = connect_to_bridge(endpoint);
    if (!socket) return std::nullopt;
    if (!send_request(socket->get(), endpoint, token, body)) return std::nullopt;
    return read_response(socket->get());
}

}  // namespace velmot
