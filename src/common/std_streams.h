// The launcher's two output streams. Standard output goes through the one
// process-wide line buffer; standard error is unbuffered. There is no flush of
// standard output before standard error is written: a partial standard-output
// line may therefore reach a shared destination after later error output.
#pragma once

#include <initializer_list>
#include <string_view>

namespace velmot {

[[nodiscard]] bool write_stdout(std::string_view chunk);
[[nodiscard]] bool write_stderr(std::string_view bytes);

// Writes out held standard output once, at process end. Returns false when the
// held bytes were lost to a write error such as a full disk: a run that
// succeeded must not then report success. A descriptor that is not open and a
// reader that has gone drop the bytes without error, since nobody is there to
// read them.
[[nodiscard]] bool flush_stdout_at_exit();

// Writes a diagnostic line to standard error. If that fails for any reason
// other than standard error not being open, the process ends at once with
// status 101 after flushing standard output: a run that cannot report why it
// ended must not look like a normal one. The pieces, at most eight, are
// concatenated.
void write_diagnostic_or_exit(std::initializer_list<std::string_view> pieces);

}  // namespace velmot
