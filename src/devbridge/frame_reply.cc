#include "devbridge/frame_reply.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>

#include "common/limits.h"
#include "common/system_calls.h"
#include "devbridge/http_reply.h"

namespace velmot::devbridge {

namespace {

constexpr char kFramesType[] = "application/x-ndjson";
constexpr std::size_t kPaddingBlockBytes = 64 * 1024;
// Frames are written this much at a time while a buffered reply is sent.
constexpr std::size_t kWindowBytes = 256 * 1024;

}  // namespace

std::size_t FrameReply::declared_bytes() const {
    return streamed_ ? kMaxContentLength : body_.size();
}

// Waits for room on the socket only until the reply's deadline, so that a
// client that stops reading cannot hold the worker for good; a stopping
// bridge shuts the socket down, which ends the wait at once.
bool FrameReply::send(std::string_view bytes) {
    while (!gone_ && !bytes.empty()) {
        const ssize_t put = sys::send(socket_, bytes.data(), bytes.size());
        if (put > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(put));
            sent_ += static_cast<std::size_t>(put);
            continue;
        }
        if (put == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            gone_ = true;
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                              reply_deadline(started_, sent_) - Clock::now())
                              .count();
        struct pollfd room = {socket_, POLLOUT, 0};
        if (left <= 0 || sys::poll(&room, 1, static_cast<int>(left)) < 0) {
            gone_ = true;
        }
    }
    return !gone_;
}

bool FrameReply::send_head() {
    head_sent_ = true;
    return send(reply_head(200, kFramesType, kMaxContentLength));
}

bool FrameReply::send_padding(std::size_t count) {
    const std::string block(count < kPaddingBlockBytes ? count : kPaddingBlockBytes, ' ');
    for (; count > 0 && !gone_; count -= block.size() < count ? block.size() : count) {
        send(std::string_view(block).substr(0, count));
    }
    return !gone_;
}

bool FrameReply::add_output(OutputChannel channel, std::string_view chunk) {
    if (!body_.add_output(channel, chunk)) return false;
    if (!streamed_) return true;
    if (!head_sent_ && !send_head()) return false;
    return send(body_.take());
}

bool FrameReply::finish_streamed() {
    if (!head_sent_ && !send_head()) return false;
    std::string closing = body_.take();
    closing.pop_back();  // its line feed, which goes after the padding
    return send(closing) && send_padding(kMaxContentLength - body_.size()) && send("\n");
}

std::string_view FrameReply::next() {
    window_.clear();
    if (!head_sent_) {
        head_sent_ = true;
        window_ = reply_head(200, kFramesType, body_.size());
    }
    (void)body_.render(window_, kWindowBytes);
    return window_;
}

}  // namespace velmot::devbridge
