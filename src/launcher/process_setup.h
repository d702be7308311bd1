// What the process arranges before the run sequence starts, so that the run
// never has to think about it: descriptors 0 to 2 are always open (a closed
// one is reopened on /dev/null, so the bridge connection can never take their
// numbers), and a write into a pipe or socket whose reader has gone is an
// ordinary write error rather than a fatal signal.
#pragma once

namespace velmot {

// Returns false when a closed standard descriptor could not be reopened.
[[nodiscard]] bool prepare_process();

// Keeps memory the run frees for the run's later allocations instead of
// handing it back to the system. For the launcher only: a long-lived server
// would keep its largest peak for good.
void keep_freed_memory_for_the_run();

}  // namespace velmot
