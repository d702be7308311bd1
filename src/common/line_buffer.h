// The launcher's standard-output buffer: 1,024 bytes, line-buffered whatever
// kind of file the descriptor is, so that replayed output reaches a pipe or a
// file in whole lines and with as few writes as the lines allow.
//
// A chunk's bytes up to and including its last line feed go out before
// `write` returns, preceded by any partial line still held. What follows the
// last line feed is held, unless it is 1,024 bytes or more (then it is written
// at once) or it does not fit beside what is held (then the held bytes go out
// first). Held bytes leave at the next line feed, the next overflow, or
// `flush`.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/limits.h"

namespace velmot {

class LineBuffer {
  public:
    constexpr explicit LineBuffer(int fd) noexcept : fd_(fd) {}
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    // Returns false when a write that actually happened failed; bytes that
    // are only held report no error.
    [[nodiscard]] bool write(std::string_view chunk);

    // Writes out what is held and forgets it, written or not.
    [[nodiscard]] bool flush();

  private:
    // Kept out of line so that the common case stays a few instructions.
    [[nodiscard, gnu::noinline]] bool write_around_held(std::string_view chunk);
    [[nodiscard]] bool write_held_then(std::string_view bytes);
    void hold(std::string_view bytes);

    int fd_;
    std::size_t held_ = 0;
    char bytes_[kStdoutBufferBytes] = {};
};

}  // namespace velmot
