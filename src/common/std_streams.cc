#include "common/std_streams.h"

#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

#include <iterator>

#include "common/descriptor_io.h"
#include "common/exit_codes.h"
#include "common/failure_note.h"
#include "common/line_buffer.h"

namespace velmot {
namespace {

// Constant-initialized: no work happens before main.
constinit LineBuffer g_stdout{STDOUT_FILENO};

[[noreturn]] void end_with_unwritable_diagnostic() {
    (void)flush_stdout_at_exit();
    ::_exit(exit_code(LauncherExit::DiagnosticUnwritable));
}

iovec piece(std::string_view s) {
    return {const_cast<char*>(s.data()), s.size()};
}

}  // namespace

bool write_stdout(std::string_view chunk) {
    return g_stdout.write(chunk);
}

bool write_stderr(std::string_view bytes) {
    return write_all(STDERR_FILENO, bytes);
}

bool flush_stdout_at_exit() {
    errno = 0;
    if (g_stdout.flush() || errno == EPIPE) return true;
    note_failure(FailureReason::StdoutLostAtExit);
    return false;
}

void write_diagnostic_or_exit(std::initializer_list<std::string_view> pieces) {
    // Gathered into one write, so that the line reaches a shared pipe whole
    // whenever the pipe takes it whole.
    iovec gathered[8];
    std::size_t count = 0;
    for (std::string_view p : pieces) {
        if (count < std::size(gathered)) gathered[count++] = piece(p);
    }
    if (!write_all_gathered(STDERR_FILENO, gathered, count)) end_with_unwritable_diagnostic();
}

}  // namespace velmot
