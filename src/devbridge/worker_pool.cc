#include "devbridge/worker_pool.h"

namespace velmot::devbridge {

WorkerPool::WorkerPool(std::size_t workers) {
    workers_.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i)
        workers_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(std::move(job));
    }
    job_ready_.notify_one();
}

void WorkerPool::run_waiting_here() {
    std::deque<std::function<void()>> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(waiting_);
    }
    for (auto& job : taken)
        job();
}

void WorkerPool::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    job_ready_.notify_all();
    for (auto& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            job_ready_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
            if (waiting_.empty()) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
        }
        job();
    }
}

}  // namespace velmot::devbridge
