// Leaving the terminal for --serve: the bridge goes on in a child process
// that leads a session of its own, so that neither Ctrl-C at the prompt nor
// the terminal closing reaches it. The original process stays until the
// bridge has printed its lines, so that its exit status says whether the
// bridge is serving, then ends.
#pragma once

#include <optional>

#include "common/unique_fd.h"

namespace velmot::devbridge {

// In the bridge: nullopt, with `ready` set to the descriptor to close once
// the lines are out. In the original process: the status to exit with, 0
// once the bridge is serving, or the bridge's own status if it ended first.
// Call it before any thread starts.
std::optional<int> detach_from_terminal(UniqueFd& ready);

}  // namespace velmot::devbridge
