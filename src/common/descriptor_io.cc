#include "common/descriptor_io.h"

#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>

namespace velmot {

bool write_all(int fd, std::string_view bytes) {
    struct iovec piece {
        const_cast<char*>(bytes.data()), bytes.size()
    };
    return write_all_gathered(fd, &piece, 1);
}

bool write_all_gathered(int fd, struct iovec* pieces, std::size_t count) {
    drop_written(pieces, count, 0);
    while (count > 0) {
        const int batch = static_cast<int>(std::min<std::size_t>(count, IOV_MAX));
        const ssize_t written = ::writev(fd, pieces, batch);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno == EBADF;
        }
        if (written == 0) return false;
        drop_written(pieces, count, static_cast<std::size_t>(written));
    }
    return true;
}

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

}  // namespace velmot
