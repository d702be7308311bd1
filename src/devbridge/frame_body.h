// The body of a 200 response: one JSON frame per line, output chunks in the
// order the command produced them, then exactly one closing frame (terminal
// or failure). The body never grows past its byte limit: room for the
// closing frame is kept free from the start, and an output chunk that would
// take that room is refused, so the caller can end with a failure instead.
//
// A body sent as it grows holds only the frames not handed over yet. A body
// sent once it is complete holds the command's output as it was read, not
// its frames, which are a third larger (Base64): every frame's length is
// known from its chunk's, so the body's exact size is known before any
// frame is written, and `render` writes the frames piece by piece as they
// are sent. Each reply is thus held once, as raw output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/limits.h"
#include "common/output_channel.h"

namespace velmot::devbridge {

class FrameBody {
  public:
    enum class Keep { Frames, Output };

    explicit FrameBody(Keep keep = Keep::Frames, std::size_t limit = kMaxContentLength)
        : keep_(keep), limit_(limit) {}

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
    std::size_t size() const { return size_; }

    // Keep::Frames: hands over the frames added since the last call.
    std::string take() { return std::move(frames_); }

    // Keep::Output: appends the next frames of the body to `out` until it
    // holds at least `at_least` bytes or the body's end, closing frame
    // included, has been written. False once everything was written before.
    bool render(std::string& out, std::size_t at_least);

  private:
    struct Piece {
        OutputChannel channel;
        std::size_t bytes;
    };

    Keep keep_;
    std::size_t limit_;
    std::size_t size_ = 0;
    std::string frames_;
    // Keep::Output: the chunks, back to back, and what each one was.
    std::string output_;
    std::vector<Piece> pieces_;
    std::string closing_;
    std::size_t next_piece_ = 0;
    std::size_t next_byte_ = 0;
    bool closing_rendered_ = false;
};

}  // namespace velmot::devbridge
