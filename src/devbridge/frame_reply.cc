#include "devbridge/frame_reply.h"

#include <poll.h>
#include <sys/uio.h>

#include <string>

#include "common/descriptor_io.h"
#include "common/limits.h"
#include "devbridge/http_reply.h"

namespace velmot::devbridge {

namespace {

constexpr char kFramesType[] = "application/x-ndjson";
constexpr std::size_t kPaddingBlockBytes = 64 * 1024;

// Whether the client has closed its side or reset the connection. The
// launcher never half-closes, so either means that nobody reads the answer.
bool peer_gone(int socket) {
    struct pollfd watch = {socket, POLLRDHUP, 0};
    return ::poll(&watch, 1, 0) > 0 && watch.revents != 0;
}

}  // namespace

std::size_t FrameReply::declared_bytes() const {
    return streamed_ ? kMaxContentLength : body_.size();
}

bool FrameReply::send(std::string_view bytes) {
    iovec piece{const_cast<char*>(bytes.data()), bytes.size()};
    if (!gone_ && !send_all_gathered(socket_, &piece, 1)) gone_ = true;
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

bool FrameReply::finish() {
    if (!streamed_) {
        if (peer_gone(socket_)) return false;
        std::string message = reply_head(200, kFramesType, body_.size());
        message.append(body_.take());
        return send(message);
    }
    if (!head_sent_ && !send_head()) return false;
    std::string closing = body_.take();
    closing.pop_back();  // its line feed, which goes after the padding
    return send(closing) && send_padding(kMaxContentLength - body_.size()) && send("\n");
}

}  // namespace velmot::devbridge
