#include "devbridge/bounded_task_queue.h"

namespace velmot::devbridge {

BoundedTaskQueue::BoundedTaskQueue(std::size_t workers, std::size_t max_waiting)
    : max_waiting_(max_waiting) {
    workers_.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i)
        workers_.emplace_back([this] { work(); });
}

BoundedTaskQueue::~BoundedTaskQueue() {
    shutdown();
}

void BoundedTaskQueue::enqueue(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    room_ready_.wait(lock, [this] { return waiting_.size() < max_waiting_ || shutting_down_; });
    waiting_.push_back(std::move(task));
    task_ready_.notify_one();
}

void BoundedTaskQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        shutting_down_ = true;
    }
    task_ready_.notify_all();
    room_ready_.notify_all();
    for (auto& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
}

void BoundedTaskQueue::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            task_ready_.wait(lock, [this] { return !waiting_.empty() || shutting_down_; });
            if (waiting_.empty()) return;
            task = std::move(waiting_.front());
            waiting_.pop_front();
        }
        room_ready_.notify_one();
        task();
    }
}

}  // namespace velmot::devbridge
