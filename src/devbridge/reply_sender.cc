#include "devbridge/reply_sender.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "common/system_calls.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

Clock::time_point reply_deadline(Clock::time_point started, std::size_t sent) {
    const auto earned = std::chrono::milliseconds(sent * 1000 / kMinReplyBytesPerSecond);
    return started + std::chrono::milliseconds(kReplyStallMs) + earned;
}

bool peer_gone(int socket) {
    struct pollfd watch = {socket, POLLRDHUP, 0};
    return sys::poll(&watch, 1, 0) > 0 && watch.revents != 0;
}

struct ReplySender::Outgoing {
    UniqueFd socket;
    std::unique_ptr<ReplyBytes> bytes;
    Done done;
    Clock::time_point started = Clock::now();
    std::string_view pending;
    std::size_t sent = 0;
    bool over = false;
    bool delivered = false;

    // Sends until the socket takes no more or the reply is over.
    void pump() {
        for (;;) {
            if (pending.empty()) pending = bytes->next();
            if (pending.empty()) {
                over = delivered = true;
                return;
            }
            // The socket is non-blocking: a send takes what fits.
            const ssize_t put = sys::send(socket.get(), pending.data(), pending.size());
            if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (put <= 0) {
                over = true;
                return;
            }
            pending.remove_prefix(static_cast<std::size_t>(put));
            sent += static_cast<std::size_t>(put);
        }
    }
};

ReplySender::ReplySender() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_read_.reset(fds[0]);
        wake_write_.reset(fds[1]);
    }
    thread_ = std::thread([this] { loop(); });
}

ReplySender::~ReplySender() {
    stop(Clock::now());
}

void ReplySender::wake() {
    const char byte = 0;
    (void)!sys::write(wake_write_.get(), &byte, 1);
}

void ReplySender::send(UniqueFd socket, std::unique_ptr<ReplyBytes> bytes, Done done) {
    auto outgoing = std::make_unique<Outgoing>();
    outgoing->socket = std::move(socket);
    outgoing->bytes = std::move(bytes);
    outgoing->done = std::move(done);
    {
        std::lock_guard lock(mutex_);
        arriving_.push_back(std::move(outgoing));
    }
    wake();
}

void ReplySender::stop(Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) stop_deadline_ = deadline;
        stopping_ = true;
    }
    wake();
    if (thread_.joinable()) thread_.join();
}

void ReplySender::loop() {
    std::vector<std::unique_ptr<Outgoing>> active;
    std::vector<pollfd> fds;
    for (;;) {
        bool stopping = false;
        Clock::time_point stop_deadline;
        {
            std::lock_guard lock(mutex_);
            for (auto& outgoing : arriving_)
                active.push_back(std::move(outgoing));
            arriving_.clear();
            stopping = stopping_;
            stop_deadline = stop_deadline_;
        }
        const auto now = Clock::now();
        for (auto& outgoing : active) {
            const bool late = now >= reply_deadline(outgoing->started, outgoing->sent) ||
                              (stopping && now >= stop_deadline);
            if (!outgoing->over && late) outgoing->over = true;
            if (!outgoing->over) continue;
            outgoing->socket.reset();
            outgoing->done(outgoing->delivered);
        }
        std::erase_if(active, [](const auto& outgoing) { return outgoing->over; });
        if (stopping && active.empty()) return;

        fds.assign({{wake_read_.get(), POLLIN, 0}});
        auto wake_at = stopping ? stop_deadline : Clock::time_point::max();
        for (const auto& outgoing : active) {
            fds.push_back({outgoing->socket.get(), POLLOUT, 0});
            wake_at = std::min(wake_at, reply_deadline(outgoing->started, outgoing->sent));
        }
        int timeout = -1;
        if (wake_at != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake_at - now).count();
            timeout = left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
        }
        if (sys::poll(fds.data(), fds.size(), timeout) < 0) return;
        if (fds[0].revents != 0) {
            char drained[64];
            while (sys::read(wake_read_.get(), drained, sizeof drained) > 0) {
            }
        }
        for (std::size_t i = 0; i < active.size(); ++i) {
            if (fds[i + 1].revents != 0) active[i]->pump();
        }
    }
}

}  // namespace velmot::devbridge
