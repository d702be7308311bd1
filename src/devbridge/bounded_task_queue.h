// The HTTP server's worker pool: a fixed number of threads handle requests,
// and at most a fixed number of accepted connections wait for one. When
// that many are waiting, handing over another blocks the accepting thread,
// so further clients wait in the kernel's listen queue instead of costing
// the bridge memory and descriptors.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmot::devbridge {

class BoundedTaskQueue final : public httplib::TaskQueue {
  public:
    BoundedTaskQueue(std::size_t workers, std::size_t max_waiting);
    ~BoundedTaskQueue() override;

    void enqueue(std::function<void()> task) override;
    // Runs what is waiting, then ends the workers and joins them.
    void shutdown() override;

  private:
    void work();

    const std::size_t max_waiting_;
    std::mutex mutex_;
    std::condition_variable task_ready_;
    std::condition_variable room_ready_;
    std::deque<std::function<void()>> waiting_;
    bool shutting_down_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace velmot::devbridge
