// Writing whole buffers to a descriptor or the bridge socket. Every write of
// the launcher's own output and every send of its request goes through here,
// so the rules hold in one place: a partial write is continued, and a call
// that accepts nothing is an error. The system-call layer beneath repeats a
// call interrupted by a signal.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <string_view>

namespace velmot {

// Writes every byte of `bytes` to `fd`. Returns false on any write error. A
// descriptor that is not open swallows the bytes without error: it was never
// opened for the caller.
[[nodiscard]] bool write_all(int fd, std::string_view bytes);

// Writes the pieces in order as one gathered stream, by the rules of
// `write_all`. The pieces' iov_base/iov_len are adjusted in place as they go
// out.
[[nodiscard]] bool write_all_gathered(int fd, struct iovec* pieces, std::size_t count);

// Sends the pieces in order on a connected socket, adjusting them in place.
// A peer that has gone is an error, never SIGPIPE; so is the socket's send
// time limit running out.
[[nodiscard]] bool send_all_gathered(int socket_fd, struct iovec* pieces, std::size_t count);

}  // namespace velmot
