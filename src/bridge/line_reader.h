// Line reading on the bridge connection, one receive of at most 8,192 bytes
// at a time, for the whole reply: status line, header section and body.
// Bytes that arrive together with the end of one line are kept for the next,
// and nothing more is received while a line feed is still among them.
//
// A line is every byte up to and including a line feed; it ends early when
// the bridge closes its side or when the caller's byte limit is reached (the
// remaining body bytes, so a body read never takes a byte beyond
// Content-Length and never receives once nothing remains).
//
// Every line is handed over where it was received: received bytes stay in
// one storage, and a line that goes on past them gets the next receive
// straight behind its bytes. Only the start of such a line, what the last
// receive brought of it, is moved first, to the front of the storage; a line
// longer than the storage moves into larger storage, which is then kept for
// the rest of the reply.
//
// Head lines are checked to be valid UTF-8 here. Body lines are not: the
// frame decoder checks the UTF-8 of every string it scans, which is where a
// frame line's non-ASCII bytes can stand, so the body reader checks a line
// itself only when it refuses one.
//
// The reader borrows the socket; it lives on the caller's stack for the
// length of one reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

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

    // The next line of at most `limit` bytes, unchecked, viewed where it was
    // received. Empty when there was nothing more to read; no value when a
    // receive fails, or when the line's bytes so far are already not UTF-8 as
    // a receive fails. The caller may change the bytes; the view lasts until
    // the next read.
    [[nodiscard]] std::optional<std::span<char>> read_body_line(std::uint64_t limit);

  private:
    [[nodiscard]] std::optional<std::span<char>> next_line(std::uint64_t limit, bool check_utf8);
    // One receive behind the kept bytes: false when it fails.
    [[nodiscard]] bool receive();
    // Moves the kept bytes to the front of storage with room for one receive
    // behind them.
    void make_room();

    int fd_;
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    // The kept bytes, received and not yet taken by a line.
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool closed_ = false;
};

}  // namespace velmot
