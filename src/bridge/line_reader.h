// Line reading on the bridge connection through one 8,192-byte read buffer
// that serves the whole reply: status line, header section and body. Bytes
// that arrive together with the end of one line stay in the buffer for the
// next; the buffer is refilled with one receive only when it is empty.
//
// Most lines arrive whole within one receive. For those the reader checks
// the UTF-8 of what the receive brought once, for all the lines in it, and
// copies each line out with one search for its line feed; only a line that
// spans receives, or one in a block that fails that check, is checked on its
// own.
//
// A line is every byte up to and including a line feed; it ends early when
// the bridge closes its side or when the caller's byte limit is reached (the
// remaining body bytes, so a body read never takes a byte beyond
// Content-Length and never receives once nothing remains). Every line read
// must be valid UTF-8 as a whole.
//
// The reader borrows the socket; it lives on the caller's stack for the
// length of one reply.
#pragma once

#include <cstddef>
#include <cstdint>
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

  private:
    [[nodiscard]] bool refill();
    // `searched` bytes at the front of the buffer are known to hold no line
    // feed.
    [[nodiscard]] bool read_spanning_line(std::string& line, std::uint64_t limit,
                                          std::size_t searched);
    [[nodiscard]] bool check_buffered(std::size_t size);

    int fd_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    // Lines that start at `begin_` and end at or before `valid_end_` are
    // valid UTF-8; 0 until the buffered bytes have been checked, or when they
    // failed the check.
    std::size_t valid_end_ = 0;
    bool block_checked_ = false;
    bool closed_ = false;
    char buffer_[kReadBufferBytes];
};

}  // namespace velmot
