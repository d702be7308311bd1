// Which requests the bridge lets through to a command, decided on the head
// alone, before any of the body is read: a POST to the bridge's path,
// addressed to the bridge's own address and port, from no web page (no
// Origin field), with exactly one, correct access token. Everything else is
// refused with the HTTP status that says why.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devbridge/http_request.h"

namespace velmot::devbridge {

struct Refusal {
    int status = 400;
    std::string why;
    // Whole "Name: value\r\n" lines for the reply's head.
    std::string extra_fields;
};

// nullopt when the head may go on to its body. `own_host` is the Host value
// the bridge answers to: "127.0.0.1:PORT".
std::optional<Refusal> refuse_head(const HttpHead& head, std::string_view own_host,
                                   std::string_view token);

// The refusal for a request that broke a rule of HTTP itself (see
// HttpRequestReader::refusal), or took too long to arrive (408).
Refusal refusal_for_status(int status);

}  // namespace velmot::devbridge
