// The bridge's listening socket: a fresh port on 127.0.0.1, bound without
// SO_REUSEADDR or SO_REUSEPORT, so that no other process can bind the same
// port and take a share of the launchers' connections and their tokens.
#pragma once

#include <cstdint>
#include <optional>

#include "common/unique_fd.h"

namespace velmot::devbridge {

struct Listener {
    UniqueFd socket;  // non-blocking, close-on-exec, listening
    std::uint16_t port = 0;
};

std::optional<Listener> listen_on_loopback();

}  // namespace velmot::devbridge
