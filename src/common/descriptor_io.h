// Writing whole buffers to a descriptor. Every write of the launcher's own
// output goes through here, so the rules hold in one place: a write
// interrupted by a signal is repeated, a partial write is continued, a write
// that accepts nothing is an error, and a descriptor that is not open
// swallows the bytes without error (it was never opened for the caller).
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <string_view>

namespace velmot {

// Writes every byte of `bytes` to `fd`. Returns false on any write error.
[[nodiscard]] bool write_all(int fd, std::string_view bytes);

// Writes the pieces in order as one gathered stream, continuing after partial
// writes. The pieces' iov_base/iov_len are adjusted in place as they go out.
[[nodiscard]] bool write_all_gathered(int fd, struct iovec* pieces, std::size_t count);

// Drops the first `written` bytes of the pieces after a partial gathered
// write: whole pieces are skipped, a partly written one is shortened, and
// empty pieces at the front are skipped too, so `count` is 0 exactly when
// nothing is left to write.
void drop_written(struct iovec*& pieces, std::size_t& count, std::size_t written);

}  // namespace velmot
