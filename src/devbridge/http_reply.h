// The heads of the bridge's HTTP responses. Every response closes its
// connection: one request per connection, as the launcher sends it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmot::devbridge {

// "HTTP/1.1 <status> <reason>" and the fields for a body of `body_bytes`
// bytes of `content_type`, with `extra_fields` (whole "Name: value\r\n"
// lines) before the blank line that ends the head.
std::string reply_head(int status, std::string_view content_type, std::size_t body_bytes,
                       std::string_view extra_fields = {});

// A whole refusal: the head and a one-line plain-text body.
std::string refusal_reply(int status, std::string_view why, std::string_view extra_fields = {});

}  // namespace velmot::devbridge
