// The two streams a command's output chunk can belong to, as the bridge's
// frames name them ("stdout", "stderr") and as the launcher replays them.
#pragma once

namespace velmot {

enum class OutputChannel { Stdout, Stderr };

}  // namespace velmot
