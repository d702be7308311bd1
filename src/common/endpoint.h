// Where the bridge listens, as the launcher and the development bridge both
// know it: the names of the two environment variables through which the host
// application hands over the address and the access token, and the `Endpoint`
// record that a valid address becomes. Reading and checking the variables is
// the launcher's business; this is only what both sides share.
#pragma once

#include <cstdint>
#include <string>

namespace velmot {

inline constexpr char kEndpointVariable[] = "VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT";
inline constexpr char kTokenVariable[] = "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN";

struct Endpoint {
    std::string host;        // always "127.0.0.1"
    std::string path;        // "/" and at least one more byte, taken verbatim
    std::uint16_t port = 0;  // 1 to 65535
};

}  // namespace velmot
