#include "common/descriptor_io.h"

#include <errno.h>
#include <limits.h>

#include <algorithm>

#include "common/system_calls.h"

namespace velmot {
namespace {

// One gathered transfer of up to IOV_MAX pieces: the bytes it accepted, or -1
// with errno set.
using GatheredStep = ssize_t (*)(int fd, const struct iovec* pieces, int count);

ssize_t write_step(int fd, const struct iovec* pieces, int count) {
    const ssize_t written = sys::writev(fd, pieces, count);
    if (written >= 0 || errno != EBADF) return written;
    // Not open: every byte offered counts as written.
    std::size_t offered = 0;
    for (int i = 0; i < count; ++i)
        offered += pieces[i].iov_len;
    return static_cast<ssize_t>(offered);
}

// Drops the first `written` bytes of the pieces: whole pieces are skipped, a
// partly written one is shortened, and empty pieces at the front are skipped
// too, so `count` is 0 exactly when nothing is left.
void drop_written(struct iovec*& pieces, std::size_t& count, std::size_t written) {
    while (count > 0 && written >= pieces->iov_len) {
        written -= pieces->iov_len;
        ++pieces;
        --count;
    }
    if (count > 0) {
        pieces->iov_base = static_cast<char*>(pieces->iov_base) + written;
        pieces->iov_len -= written;
    }
}

// Out of line, so that the single write `write_all` nearly always ends with
// stays a short call: inlined there, this loop's register saves would be paid
// on every write.
[[gnu::noinline]] bool transfer_all(int fd, struct iovec* pieces, std::size_t count,
                                    GatheredStep step) {
    drop_written(pieces, count, 0);
    while (count > 0) {
        const int batch = static_cast<int>(std::min<std::size_t>(count, IOV_MAX));
        const ssize_t done = step(fd, pieces, batch);
        // For a socket, EAGAIN is its send time limit.
        if (done <= 0) return false;
        drop_written(pieces, count, static_cast<std::size_t>(done));
    }
    return true;
}

// What follows a first write of `bytes` that returned `written`, short of
// all of them. Out of line for the same reason as `transfer_all`.
[[gnu::noinline]] bool write_rest(int fd, std::string_view bytes, ssize_t written) {
    if (written > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && errno != EBADF) {
        return false;
    }
    struct iovec piece {
        const_cast<char*>(bytes.data()), bytes.size()
    };
    return transfer_all(fd, &piece, 1, write_step);
}

}  // namespace

bool write_all(int fd, std::string_view bytes) {
    if (bytes.empty()) return true;
    // Nearly always one write takes everything; the rules are for the rest.
    const ssize_t written = sys::write(fd, bytes.data(), bytes.size());
    return written == static_cast<ssize_t>(bytes.size()) || write_rest(fd, bytes, written);
}

bool write_all_gathered(int fd, struct iovec* pieces, std::size_t count) {
    return transfer_all(fd, pieces, count, write_step);
}

bool send_all_gathered(int socket_fd, struct iovec* pieces, std::size_t count) {
    return transfer_all(socket_fd, pieces, count, sys::send_gathered);
}

}  // namespace velmot
