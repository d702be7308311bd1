// velmot_devbridge: a development stand-in for the host application's
// bridge. It serves the launcher's exchange on 127.0.0.1 and runs each
// invocation as an executable from a commands directory, so that plug-in
// command lines can be run, tried and tested through the launcher without
// the host application.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "common/descriptor_io.h"
#include "common/unique_fd.h"
#include "devbridge/access_token.h"
#include "devbridge/bridge_modes.h"
#include "devbridge/bridge_server.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/options.h"
#include "devbridge/process_registry.h"
#include "launcher/process_setup.h"

namespace velmot::devbridge {
namespace {

constexpr int kUsageStatus = 2;

int complain(const std::string& what) {
    (void)write_all(STDERR_FILENO, "velmot_devbridge: " + what + "\n");
    return kStatusBridgeFailure;
}

bool is_directory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<UniqueFd> open_log(const Options& options) {
    if (!options.log_file) return UniqueFd(::dup(STDERR_FILENO));
    UniqueFd fd(::open(options.log_file->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return std::nullopt;
    return fd;
}

// Listens, runs the chosen mode, then ends the commands still running and
// the server, in that order: requests in flight end when their commands do.
int serve(const Options& options, const RequestLog& log, const std::string& token) {
    sigset_t child_mask;
    const sigset_t awaited = awaited_signals();
    // Blocked before any thread starts, so that every thread inherits the
    // mask and the main thread alone takes these signals, synchronously.
    pthread_sigmask(SIG_BLOCK, &awaited, &child_mask);
    ProcessRegistry registry;
    const BridgeConfig config{options.commands_dir, token, log, {registry, child_mask}};
    BridgeServer server(config);
    if (!server.bind()) return complain("cannot listen on 127.0.0.1");
    server.start();
    const BridgeAddress address{server.endpoint(), token};
    const int status = options.mode == Mode::Serve
                           ? serve_until_signalled(address, options.commands_dir, log)
                           : run_under_bridge(options.command, address, child_mask);
    registry.close(kShutdownGraceMs);
    server.stop();
    return status;
}

int run(int argc, char** argv) {
    std::string error;
    const auto options = parse_options(argc, argv, error);
    if (!options) {
        (void)write_all(STDERR_FILENO, "velmot_devbridge: " + error + "\n" + kUsage);
        return kUsageStatus;
    }
    if (options->mode == Mode::Help) return write_all(STDOUT_FILENO, kUsage) ? 0 : 1;
    if (!is_directory(options->commands_dir)) {
        return complain("no commands directory " + options->commands_dir);
    }
    const auto log_fd = open_log(*options);
    if (!log_fd || !log_fd->valid()) return complain("cannot open the log");
    const auto token = make_access_token();
    if (!token) return complain("cannot read random bytes for the access token");
    return serve(*options, RequestLog(log_fd->get()), *token);
}

}  // namespace
}  // namespace velmot::devbridge

int main(int argc, char** argv) {
    // Commands are reaped by their handlers, so children must not be reaped
    // automatically, whatever disposition the bridge inherited.
    ::signal(SIGCHLD, SIG_DFL);
    if (!velmot::prepare_process()) return velmot::devbridge::kStatusBridgeFailure;
    return velmot::devbridge::run(argc, argv);
}
