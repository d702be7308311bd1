#include "devbridge/frame_body.h"

#include "common/frame_writer.h"
#include "common/utf8.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

namespace {

// The longest prefix of `text` of at most `limit` bytes that ends on a
// character boundary.
std::string_view cut(std::string_view text, std::size_t limit) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t length = utf8_sequence_length(text.substr(end));
        if (length == 0 || end + length > limit) break;
        end += length;
    }
    return text.substr(0, end);
}

}  // namespace

bool FrameBody::add_output(OutputChannel channel, std::string_view chunk) {
    const std::size_t line = output_frame_length(chunk.size());
    if (size_ + line + kClosingFrameReserve > limit_) return false;
    size_ += line;
    if (keep_ == Keep::Frames) {
        append_output_frame(frames_, channel, chunk);
        return true;
    }
    // The whole output fits below the body's limit, so reserving that much
    // at once never moves it: a large reservation is mapped on its own and
    // takes memory only as it is written.
    if (output_.capacity() < limit_) output_.reserve(limit_);
    output_.append(chunk);
    pieces_.push_back({channel, chunk.size()});
    return true;
}

void FrameBody::close_with_terminal(std::uint8_t exit_code) {
    std::string& out = keep_ == Keep::Frames ? frames_ : closing_;
    const std::size_t before = out.size();
    append_terminal_frame(out, exit_code);
    size_ += out.size() - before;
}

void FrameBody::close_with_failure(std::string_view code, std::string_view message,
                                   std::uint8_t exit_code) {
    std::string& out = keep_ == Keep::Frames ? frames_ : closing_;
    const std::size_t before = out.size();
    append_failure_frame(out, cut(code, kMaxFailureCodeBytes),
                         cut(message, kMaxFailureMessageBytes), exit_code);
    size_ += out.size() - before;
}

bool FrameBody::render(std::string& out, std::size_t at_least) {
    if (closing_rendered_) return false;
    while (out.size() < at_least && next_piece_ < pieces_.size()) {
        const Piece& piece = pieces_[next_piece_++];
        append_output_frame(out, piece.channel,
                            std::string_view(output_).substr(next_byte_, piece.bytes));
        next_byte_ += piece.bytes;
    }
    if (next_piece_ == pieces_.size()) {
        out.append(closing_);
        closing_rendered_ = true;
        // The output is written out: its memory goes back now, not when
        // the slowest part of the send is over.
        std::string().swap(output_);
        std::vector<Piece>().swap(pieces_);
    }
    return true;
}

}  // namespace velmot::devbridge
