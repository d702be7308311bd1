#include "launcher/process_setup.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace velmot {
namespace {

bool reopen_closed_standard_descriptors() {
    int null_fd = -1;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is `fd` itself, since the ones below it are
        // open by now.
        const int opened = null_fd < 0 ? ::open("/dev/null", O_RDWR) : ::dup(null_fd);
        if (opened != fd) return false;
        null_fd = opened;
    }
    return true;
}

}  // namespace

bool prepare_process() {
    if (!reopen_closed_standard_descriptors()) return false;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    return ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

}  // namespace velmot
