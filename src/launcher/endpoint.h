// Where the bridge listens and how the launcher proves it may use it: the
// `Endpoint` parsed from VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT and the access
// token from VELMOT_INTERNAL_PLUGIN_CLI_TOKEN. Both are validated strictly;
// there are no defaults, and a failure says nothing about its cause.
#pragma once

#include <optional>
#include <string_view>

#include "common/endpoint.h"

namespace velmot {

// Accepts exactly "http://127.0.0.1:", an optional "+", decimal digits worth 1
// to 65535, "/" and a non-empty tail. The tail is kept byte for byte except
// that it may not hold a carriage return or line feed: the path goes verbatim
// into the request line, where either would end it.
std::optional<Endpoint> parse_endpoint(std::string_view text);

// Reads and parses the endpoint variable. The variable must be set and be
// valid UTF-8.
std::optional<Endpoint> read_endpoint();

// Reads the token variable: set, valid UTF-8, non-empty, no carriage return
// and no line feed. The token is a view into the process environment, which
// the launcher never modifies, and is used exactly as read.
std::optional<std::string_view> read_token();

}  // namespace velmot
