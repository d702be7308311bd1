// The threads that handle requests: a fixed number of workers take jobs in
// the order they were handed over. Handing over never blocks; the bridge
// bounds the jobs by the connections it holds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmot::devbridge {

class WorkerPool {
  public:
    explicit WorkerPool(std::size_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);
    // Takes the jobs still waiting for a worker and runs them on the
    // calling thread, in their order.
    void run_waiting_here();
    // Runs what is waiting, then ends the workers and joins them.
    void stop();

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable job_ready_;
    std::deque<std::function<void()>> waiting_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace velmot::devbridge
