#include "devbridge/admission.h"

#include "devbridge/access_token.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

namespace {

constexpr char kTokenField[] = "x-velmot-plugin-cli-token";

}  // namespace

std::optional<Refusal> refuse_head(const HttpHead& head, std::string_view own_host,
                                   std::string_view token) {
    if (head.target != kEndpointPath) return Refusal{404, "no such path", {}};
    if (head.method != "POST") return Refusal{405, "only POST is served", "Allow: POST\r\n"};
    // A page in a browser that reached 127.0.0.1 through a name it controls
    // sends that name as Host, and sends Origin: neither comes from a
    // launcher.
    if (head.count("host") != 1) return Refusal{400, "exactly one Host field is needed", {}};
    if (*head.value("host") != own_host || head.count("origin") != 0) {
        return Refusal{403, "requests from web pages or to other hosts are refused", {}};
    }
    if (head.count(kTokenField) != 1 || !token_matches(*head.value(kTokenField), token)) {
        return Refusal{401, "missing or wrong access token", {}};
    }
    return std::nullopt;
}

Refusal refusal_for_status(int status) {
    switch (status) {
        case 408:
            return {408, "the request took too long to arrive", {}};
        case 413:
            return {413, "the body is larger than 2 MiB", {}};
        case 415:
            return {415, "no Content-Encoding is accepted", {}};
        case 431:
            return {431, "the head is larger than 16 KiB or has over 100 fields", {}};
        case 501:
            return {501, "only chunked Transfer-Encoding is accepted", {}};
        case 505:
            return {505, "only HTTP/1.1 is served", {}};
        default:
            return {400, "malformed request", {}};
    }
}

}  // namespace velmot::devbridge
