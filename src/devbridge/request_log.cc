#include "devbridge/request_log.h"

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "common/descriptor_io.h"

namespace velmot::devbridge {

namespace {

constexpr std::string_view kPrefix = "velmot_devbridge: ";
// How long the log's end waits for queued lines to be written.
constexpr auto kDrainOnCloseTime = std::chrono::milliseconds(250);

void append_number(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

}  // namespace

// Shared by the log and its writer, so that a writer left blocked in a
// write at the end never reaches freed memory.
struct RequestLog::Queue {
    int fd;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;
    std::size_t dropped = 0;
    bool writing = false;
    bool closing = false;

    explicit Queue(int descriptor) : fd(descriptor) {}

    void write_lines() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !lines.empty() || dropped > 0 || closing; });
            if (lines.empty() && dropped > 0) {
                std::string line(kPrefix);
                append_number(line, static_cast<std::int64_t>(dropped));
                line.append(" log lines dropped: the log was not taking them\n");
                lines.push_back(std::move(line));
                dropped = 0;
            }
            if (lines.empty()) return;  // closing, all written
            std::string line = std::move(lines.front());
            lines.pop_front();
            writing = true;
            lock.unlock();
            // A log that cannot be written must not stop the bridge from
            // serving: the line is lost.
            (void)write_all(fd, line);
            lock.lock();
            writing = false;
            changed.notify_all();
        }
    }
};

// The writer starts with every signal blocked, whenever the log is made:
// signals are for the main thread alone, which waits for them.
RequestLog::RequestLog(int fd) : queue_(std::make_shared<Queue>(fd)) {
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    std::thread([queue = queue_] { queue->write_lines(); }).detach();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

RequestLog::~RequestLog() {
    std::unique_lock lock(queue_->mutex);
    queue_->closing = true;
    queue_->changed.notify_all();
    queue_->changed.wait_for(lock, kDrainOnCloseTime,
                             [this] { return queue_->lines.empty() && !queue_->writing; });
}

int RequestLog::fd() const {
    return queue_->fd;
}

void RequestLog::push(std::string line) const {
    {
        std::lock_guard lock(queue_->mutex);
        if (queue_->closing) return;
        if (queue_->lines.size() >= kLogQueueLines) {
            ++queue_->dropped;
            return;
        }
        queue_->lines.push_back(std::move(line));
    }
    queue_->changed.notify_all();
}

void RequestLog::record(std::string_view invocation, int http_status, std::optional<int> exit_code,
                        std::size_t body_bytes, std::int64_t milliseconds,
                        std::string_view remark) const {
    std::string line(kPrefix);
    line.append(invocation).append(" status ");
    append_number(line, http_status);
    if (exit_code) {
        line.append(" exit ");
        append_number(line, *exit_code);
    }
    line.push_back(' ');
    append_number(line, static_cast<std::int64_t>(body_bytes));
    line.append(" bytes ");
    append_number(line, milliseconds);
    line.append(" ms");
    if (!remark.empty()) line.append("; ").append(remark);
    line.push_back('\n');
    push(std::move(line));
}

void RequestLog::abandoned(std::string_view invocation, std::int64_t milliseconds) const {
    std::string text(invocation);
    text.append(" abandoned by its client after ");
    append_number(text, milliseconds);
    note(text.append(" ms"));
}

void RequestLog::note(std::string_view text) const {
    std::string line(kPrefix);
    line.append(text).push_back('\n');
    push(std::move(line));
}

}  // namespace velmot::devbridge
