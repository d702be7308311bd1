// The 200 response that carries a command's frames. Buffered, it is sent
// whole once the command has ended, with the body's exact Content-Length,
// by the reply sender (reply_sender.h): the reply is the bytes it produces.
// Streamed, its head declares the largest body a response may have, each
// output frame is sent as the command produces it, and the closing frame's
// line is padded with spaces before its line feed so that the body ends
// exactly there: a reader trims a body line's trailing white space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/output_channel.h"
#include "devbridge/frame_body.h"
#include "devbridge/reply_sender.h"

namespace velmot::devbridge {

class FrameReply final : public ReplyBytes {
  public:
    // `socket` is borrowed: the client's connection, non-blocking. Only a
    // streamed reply sends on it.
    FrameReply(int socket, bool streamed)
        : socket_(socket),
          streamed_(streamed),
          body_(streamed ? FrameBody::Keep::Frames : FrameBody::Keep::Output) {}

    // The sink for a command's output: false when the frame does not fit
    // into the body, or (streamed) when it cannot be sent: see client_gone.
    [[nodiscard]] bool add_output(OutputChannel channel, std::string_view chunk);

    FrameBody& body() { return body_; }
    bool streamed() const { return streamed_; }

    // Streamed: sends the rest, once the body has its closing frame. False
    // when the client has gone or stopped reading and got no answer.
    [[nodiscard]] bool finish_streamed();

    bool client_gone() const { return gone_; }
    // The body's size as the head declares it.
    std::size_t declared_bytes() const;

    // Buffered: the head, then the frames, a window at a time.
    std::string_view next() override;

  private:
    bool send(std::string_view bytes);
    bool send_head();
    bool send_padding(std::size_t count);

    int socket_;
    bool streamed_;
    bool head_sent_ = false;
    bool gone_ = false;
    Clock::time_point started_ = Clock::now();
    std::size_t sent_ = 0;
    FrameBody body_;
    std::string window_;
};

}  // namespace velmot::devbridge
