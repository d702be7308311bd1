// The commands that are running right now, so that the bridge can end them
// all when it stops. Each command leads its own process group; the registry
// signals whole groups. Thread-safe: every member may be called from any
// thread.
//
// A command is registered from the moment it is spawned until its handler
// has seen it end, and is forgotten before it is reaped, so that a signal
// from the registry can never reach a recycled process id.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>

namespace velmot::devbridge {

class ProcessRegistry {
  public:
    // Runs `spawn` (which returns a pid, or -1) and registers the process,
    // all under the registry's lock so that closing cannot miss it. Returns
    // false without calling `spawn` once the registry is closing.
    [[nodiscard]] bool start(const std::function<pid_t()>& spawn, pid_t& pid);
    void forget(pid_t pid);

    // Refuses new commands from now on and asks every running one to end
    // (SIGTERM).
    void close();
    // After `close`: waits until every command has ended, for at most
    // `grace_ms`, then kills those still running.
    void await_end(int grace_ms);
    // Whether `close` was called: a command that a signal ended since may
    // have been ended by the bridge.
    bool closing();

  private:
    std::mutex mutex_;
    std::condition_variable emptied_;
    std::set<pid_t> running_;
    bool closing_ = false;

    void signal_all(int signal);
};

}  // namespace velmot::devbridge
