#include "bridge/bridge_client.h"

#include <malloc.h>

#include <string>

#include "bridge/connection.h"
#include "bridge/request_writer.h"
#include "bridge/response_reader.h"
#include "common/limits.h"

namespace velmot {
namespace {

// Every body line allocates its text, the frame's Base64 text and the decoded
// chunk, up to some 300 KB, and frees them before the next line. With the
// allocator's default thresholds each line would give that memory back to
// the system and fault it in again, which costs several times the work of
// the line itself. The launcher is one short run, so the memory is kept
// until it exits.
void keep_freed_memory_for_the_run() {
#ifdef M_TRIM_THRESHOLD
    (void)::mallopt(M_MMAP_THRESHOLD, kAllocatorKeepBytes);
    (void)::mallopt(M_TRIM_THRESHOLD, kAllocatorKeepBytes);
#endif
}

}  // namespace

InvocationResult invoke(const Endpoint& endpoint, std::string_view token,
                        std::optional<std::string_view> plugin_id,
                        std::span<const std::string_view> arguments) {
    // The body is complete before any connection is made; its length is the
    // Content-Length of the head.
    const std::string body = build_request_body(plugin_id, arguments);
    const std::optional<UniqueFd> socket = connect_to_bridge(endpoint);
    if (!socket) return std::nullopt;
    if (!send_request(socket->get(), endpoint, token, body)) return std::nullopt;
    keep_freed_memory_for_the_run();
    return read_response(socket->get());
}

}  // namespace velmot
