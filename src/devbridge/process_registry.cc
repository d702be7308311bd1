#include "devbridge/process_registry.h"

#include <signal.h>

#include <chrono>

namespace velmot::devbridge {

bool ProcessRegistry::start(const std::function<pid_t()>& spawn, pid_t& pid) {
    std::lock_guard lock(mutex_);
    if (closing_) return false;
    pid = spawn();
    if (pid > 0) running_.insert(pid);
    return true;
}

void ProcessRegistry::forget(pid_t pid) {
    std::lock_guard lock(mutex_);
    running_.erase(pid);
    if (running_.empty()) emptied_.notify_all();
}

void ProcessRegistry::close() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    signal_all(SIGTERM);
}

bool ProcessRegistry::closing() {
    std::lock_guard lock(mutex_);
    return closing_;
}

void ProcessRegistry::await_end(int grace_ms) {
    std::unique_lock lock(mutex_);
    const bool ended = emptied_.wait_for(lock, std::chrono::milliseconds(grace_ms),
                                         [this] { return running_.empty(); });
    if (!ended) signal_all(SIGKILL);
}

void ProcessRegistry::signal_all(int signal) {
    for (const pid_t group : running_)
        ::kill(-group, signal);
}

}  // namespace velmot::devbridge
