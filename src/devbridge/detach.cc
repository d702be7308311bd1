#include "devbridge/detach.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/system_calls.h"
#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

std::optional<int> detach_from_terminal(UniqueFd& ready) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return kStatusBridgeFailure;
    UniqueFd wait_end(fds[0]);
    UniqueFd ready_end(fds[1]);
    const pid_t bridge = ::fork();
    if (bridge < 0) return kStatusBridgeFailure;
    if (bridge == 0) {
        // A child never leads a process group, so this cannot fail.
        ::setsid();
        ready = std::move(ready_end);
        return std::nullopt;
    }
    ready_end.reset();
    char byte = 0;
    const ssize_t got = sys::read(wait_end.get(), &byte, 1);
    if (got == 1) return 0;
    int status = 0;
    if (sys::waitpid(bridge, &status, 0) < 0) return kStatusBridgeFailure;
    return WIFEXITED(status) ? WEXITSTATUS(status) : kStatusBridgeFailure;
}

}  // namespace velmot::devbridge
