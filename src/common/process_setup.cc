#include "common/process_setup.h"

#include "common/system_calls.h"

namespace velmot {
namespace {

bool reopen_closed_standard_descriptors() {
    int null_fd = -1;
    for (int fd = 0; fd <= 2; ++fd) {
        if (sys::is_open(fd)) continue;
        // The lowest free number is `fd` itself, since the ones below it are
        // open by now.
        const int opened = null_fd < 0 ? sys::open("/dev/null", O_RDWR) : sys::dup(null_fd);
        if (opened != fd) return false;
        null_fd = opened;
    }
    return true;
}

}  // namespace

bool prepare_process() {
    return reopen_closed_standard_descriptors() && sys::ignore_sigpipe();
}

}  // namespace velmot
