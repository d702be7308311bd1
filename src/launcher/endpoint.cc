#include "launcher/endpoint.h"

#include <cstdlib>

#include "common/failure_note.h"
#include "common/utf8.h"

namespace velmot {
namespace {

constexpr std::string_view kScheme = "http://";
constexpr std::string_view kLoopback = "127.0.0.1";

std::optional<std::string_view> read_variable(const char* name, FailureReason unset,
                                              FailureReason not_utf8) {
    const char* value = std::getenv(name);
    if (value == nullptr) return fail_with(unset);
    std::string_view bytes{value};
    if (!is_valid_utf8(bytes)) return fail_with(not_utf8);
    return bytes;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (text == "+" || text == "-") return std::nullopt;
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::optional<Endpoint> parse_endpoint(std::string_view text) {
    if (!text.starts_with(kScheme)) return fail_with(FailureReason::EndpointScheme);
    const std::string_view rest = text.substr(kScheme.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return fail_with(FailureReason::EndpointNoPath);
    const std::string_view authority = rest.substr(0, slash);
    const std::string_view tail = rest.substr(slash + 1);
    const std::size_t colon = authority.rfind(':');
    if (colon != kLoopback.size() || !authority.starts_with(kLoopback)) {
        return fail_with(FailureReason::EndpointHost);
    }
    const std::optional<std::uint16_t> port = parse_port(authority.substr(colon + 1));
    if (!port) return fail_with(FailureReason::EndpointPort);
    if (tail.empty()) return fail_with(FailureReason::EndpointEmptyPath);
    if (has_line_break(tail)) return fail_with(FailureReason::EndpointLineBreak);

    Endpoint endpoint;
    endpoint.host = kLoopback;
    endpoint.path.reserve(1 + tail.size());
    endpoint.path += '/';
    endpoint.path += tail;
    endpoint.port = *port;
    return endpoint;
}

std::optional<Endpoint> read_endpoint() {
    const std::optional<std::string_view> value = read_variable(
        kEndpointVariable, FailureReason::EndpointUnset, FailureReason::EndpointNotUtf8);
    if (!value) return std::nullopt;
    return parse_endpoint(*value);
}

std::optional<std::string_view> read_token() {
    const std::optional<std::string_view> value =
        read_variable(kTokenVariable, FailureReason::TokenUnset, FailureReason::TokenNotUtf8);
    if (!value) return std::nullopt;
    if (value->empty()) return fail_with(FailureReason::TokenEmpty);
    if (has_line_break(*value)) return fail_with(FailureReason::TokenLineBreak);
    return value;
}

}  // namespace velmot
