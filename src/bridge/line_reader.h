// Line reading on the bridge connection through one 8,192-byte read buffer
// that serves the whole reply: status line, header section and body. Bytes
// that arrive together with the end of one line stay in the buffer for the
// next; the buffer is refilled with one receive only when it is empty.
//
// A line is every byte up to and including a line feed; it ends early when
// the bridge closes its side or when the caller's byte limit is reached (the
// remaining body bytes, so a body read never takes a byte beyond
// Content-Length and never receives once nothing remains).
//
// Head lines are checked to be valid UTF-8 here. Body lines are not: the
// frame decoder checks the UTF-8 of every string it scans, which is where a
// frame line's non-ASCII bytes can stand, so the body reader checks a line
// itself only when it refuses one. A body line that arrives whole within one
// receive is handed over where it lies in the read buffer, without a copy.
//
// The reader borrows the socket; it lives on the caller's stack for the
// length of one reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/limits.h"

namespace velmot {

class LineReader {
  public:
    explicit LineReader(int socket_fd) noexcept : fd_(socket_fd) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Appends the next line to `line`, which must be empty, taking at most
    // `limit` bytes; `line.size()` is then the number of bytes taken, 0 when
    // there was nothing more to read. Returns false when a receive fails
    // (the receive time limit included) or the bytes are not valid UTF-8.
    [[nodiscard]] bool read_line(std::string& line, std::uint64_t limit);

    // The next line of at most `limit` bytes, unchecked: a view of the read
    // buffer when the line lies there whole, else of `storage`, which then
    // holds it. Empty when there was nothing more to read; no value when a
    // receive fails, or when the bytes gathered so far are already not UTF-8
    // as a receive fails. The caller may change the bytes; the view lasts
    // until the next read.
    [[nodiscard]] std::optional<std::span<char>> read_body_line(std::string& storage,
                                                                std::uint64_t limit);

  private:
    [[nodiscard]] bool refill();
    // Appends the rest of a line that goes on past the buffered bytes, the
    // first `searched` of which are known to hold no line feed. With
    // `check_utf8`, fails as soon as the bytes are not UTF-8.
    [[nodiscard]] bool read_spanning_line(std::string& line, std::uint64_t limit,
                                          std::size_t searched, bool check_utf8);

    int fd_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool closed_ = false;
    char buffer_[kReadBufferBytes];
};

}  // namespace velmot
