// What a process of this project arranges before its work starts, so that it
// never has to think about it: descriptors 0 to 2 are always open (a closed
// one is reopened on /dev/null, so the bridge connection can never take their
// numbers), and a write into a pipe or socket whose reader has gone is an
// ordinary write error rather than a fatal signal.
#pragma once

namespace velmot {

// Returns false when a closed standard descriptor could not be reopened.
[[nodiscard]] bool prepare_process();

}  // namespace velmot
