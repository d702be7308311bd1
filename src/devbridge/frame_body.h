// The body of a 200 response: one JSON frame per line, output chunks in the
// order the command produced them, then exactly one closing frame (terminal
// or failure). The body never grows past its byte limit: room for the
// closing frame is kept free from the start, and an output chunk that would
// take that room is refused, so the caller can end with a failure instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/limits.h"
#include "common/output_channel.h"

namespace velmot::devbridge {

class FrameBody {
  public:
    explicit FrameBody(std::size_t limit = kMaxContentLength) : limit_(limit) {}

    // Appends an output frame for a chunk of 1 to kMaxChunkBytes bytes.
    // Returns false, appending nothing, when the frame does not fit.
    [[nodiscard]] bool add_output(OutputChannel channel, std::string_view chunk);

    // Closing frames. A failure's code should be of "a"-"z" and "_" only; the
    // code and message are cut (at a character boundary) to the lengths that
    // the reserved room allows.
    void close_with_terminal(std::uint8_t exit_code);
    void close_with_failure(std::string_view code, std::string_view message,
                            std::uint8_t exit_code);

    // Every byte of the body so far, handed over or not.
    std::size_t size() const { return taken_ + body_.size(); }
    // Hands over the bytes not handed over before: the whole body, or (for
    // a body sent as it grows) the frames added since the last call.
    std::string take() {
        taken_ += body_.size();
        return std::move(body_);
    }

  private:
    std::string body_;
    std::size_t taken_ = 0;
    std::size_t limit_;
};

}  // namespace velmot::devbridge
