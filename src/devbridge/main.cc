// velmot_devbridge: a development stand-in for the host application's
// bridge. It serves the launcher's exchange on 127.0.0.1 and runs each
// invocation as an executable from a commands directory, so that plug-in
// command lines can be run, tried and tested through the launcher without
// the host application.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string_view>

#include "common/descriptor_io.h"
#include "common/exit_codes.h"
#include "common/process_setup.h"
#include "common/unique_fd.h"
#include "devbridge/access_token.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/bridge_server.h"
#include "devbridge/detach.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/options.h"
#include "devbridge/process_registry.h"

namespace velmot::devbridge {
namespace {

int complain(const std::string& what) {
    (void)write_all(STDERR_FILENO, "velmot_devbridge: " + what + "\n");
    return kStatusBridgeFailure;
}

bool is_directory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The request log: the file asked for, else nowhere. A served bridge has
// left the terminal, whose prompt its lines would only clutter; a command
// run under the bridge has standard error for its own lines.
std::optional<UniqueFd> open_log(const Options& options) {
    if (!options.log_file) return UniqueFd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    UniqueFd fd(::open(options.log_file->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return std::nullopt;
    return fd;
}

ShellSyntax shell_syntax(const Options& options) {
    if (options.shell) return *options.shell;
    const char* shell = std::getenv("SHELL");
    return shell != nullptr && std::string_view(shell).ends_with("csh") ? ShellSyntax::Csh
                                                                        : ShellSyntax::Sh;
}

// Listens, runs the chosen mode, then stops the server, which ends the
// commands still running and answers their launchers.
int serve(const Options& options, const RequestLog& log, const std::string& token, UniqueFd ready) {
    sigset_t child_mask;
    const sigset_t awaited = awaited_signals();
    // Blocked before any thread starts, so that every thread inherits the
    // mask and the main thread alone takes these signals, synchronously.
    pthread_sigmask(SIG_BLOCK, &awaited, &child_mask);
    default_stop_signal_actions();
    ProcessRegistry registry;
    const BridgeConfig config{options.commands_dir, token,         log, registry,
                              child_mask,           options.stream};
    BridgeServer server(config);
    if (!server.bind()) return complain("cannot listen on 127.0.0.1");
    server.start();
    const BridgeAddress address{server.endpoint(), token};
    const int status = options.mode == Mode::Serve
                           ? serve_until_signalled(address, shell_syntax(options), std::move(ready),
                                                   options.commands_dir, log)
                           : run_under_bridge(options.command, address, child_mask);
    server.stop();
    return status;
}

int run(int argc, char** argv) {
    std::string error;
    const auto options = parse_options(argc, argv, error);
    if (!options) {
        (void)write_all(STDERR_FILENO, "velmot_devbridge: " + error + "\n" + kUsage);
        return exit_code(ToolExit::UsageError);
    }
    if (options->mode == Mode::Help) return write_all(STDOUT_FILENO, kUsage) ? 0 : 1;
    if (options->mode == Mode::Version) {
        return write_all(STDOUT_FILENO, "velmot_devbridge " VELMOT_VERSION "\n") ? 0 : 1;
    }
    if (options->mode == Mode::Stop) return stop_served_bridge(shell_syntax(*options));
    if (options->mode == Mode::Serve) {
        if (const auto status = refuse_second_bridge()) return *status;
    }
    if (!is_directory(options->commands_dir)) {
        return complain("no commands directory " + options->commands_dir);
    }
    const auto log_fd = open_log(*options);
    if (!log_fd || !log_fd->valid()) return complain("cannot open the log");
    const auto token = make_access_token();
    if (!token) return complain("cannot read random bytes for the access token");
    UniqueFd ready;
    if (options->mode == Mode::Serve) {
        if (const auto status = detach_from_terminal(ready)) return *status;
    }
    return serve(*options, RequestLog(log_fd->get()), *token, std::move(ready));
}

}  // namespace
}  // namespace velmot::devbridge

int main(int argc, char** argv) {
    // Commands are reaped by their handlers, so children must not be reaped
    // automatically, whatever disposition the bridge inherited.
    ::signal(SIGCHLD, SIG_DFL);
    // Replies of up to 12 MiB are built and freed by many threads; memory
    // for large buffers is mapped for each and handed back when it is
    // freed, instead of staying with the thread's heap for good.
    ::mallopt(M_MMAP_THRESHOLD, velmot::devbridge::kLargeBufferBytes);
    if (!velmot::prepare_process()) return velmot::devbridge::kStatusBridgeFailure;
    return velmot::devbridge::run(argc, argv);
}
