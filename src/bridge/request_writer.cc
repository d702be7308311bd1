#include "bridge/request_writer.h"

#include <sys/uio.h>

#include <cstdint>
#include <iterator>

#include <errno.h>

#include "bridge/exchange_trace.h"
#include "common/descriptor_io.h"
#include "common/failure_note.h"
#include "common/json_string.h"
#include "common/limits.h"

namespace velmot {
namespace {

// A number in decimal, no sign, no leading zeros, held on the stack.
class DecimalText {
  public:
    explicit DecimalText(std::uint64_t value) {
        do {
            digits_[--start_] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
    }
    std::string_view view() const { return {digits_ + start_, sizeof digits_ - start_}; }

  private:
    char digits_[20];
    std::size_t start_ = sizeof digits_;
};

iovec piece(std::string_view bytes) {
    return {const_cast<char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::string build_request_body(std::optional<std::string_view> plugin_id,
                               std::span<const std::string_view> arguments) {
    static_assert(kProtocolVersion < 10, "the protocol version is written as one digit");
    std::string body;
    body.reserve(kRequestBodyInitialCapacity);
    body += "{\"protocol_version\":";
    body.push_back(static_cast<char>('0' + kProtocolVersion));
    body += ",\"kind\":";
    append_json_string(body, plugin_id ? "plugin_cli_invoke" : "core_cli_invoke");
    if (plugin_id) {
        body += ",\"plugin_id\":";
        append_json_string(body, *plugin_id);
    }
    body += ",\"argv\":[";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) body.push_back(',');
        append_json_string(body, arguments[i]);
    }
    body += "]}";
    return body;
}

bool send_request(int socket_fd, const Endpoint& endpoint, std::string_view token,
                  std::string_view body) {
    const DecimalText port{endpoint.port};
    const DecimalText length{body.size()};
    iovec pieces[] = {
        piece("POST "),
        piece(endpoint.path),
        piece(" HTTP/1.1\r\nHost: "),
        piece(endpoint.host),
        piece(":"),
        piece(port.view()),
        piece("\r\nContent-Type: application/json\r\nX-Velmot-Plugin-Cli-Token: "),
        piece(token),
        piece("\r\nContent-Length: "),
        piece(length.view()),
        piece("\r\nConnection: close\r\n\r\n"),
        piece(body),
    };
    trace_request(pieces, std::size(pieces), token);
    if (send_all_gathered(socket_fd, pieces, std::size(pieces))) return true;
    // A send that accepted nothing leaves errno as it was.
    note_failure(errno == EAGAIN ? FailureReason::SendTimedOut : FailureReason::SendFailed);
    return false;
}

}  // namespace velmot
