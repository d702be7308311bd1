#include "devbridge/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "common/endpoint.h"
#include "common/system_calls.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/export_lines.h"

extern char** environ;

namespace velmot::devbridge {

namespace {

// Signals whose disposition a command must not inherit from the bridge:
// the ones it ignores (SIGPIPE) or waits for, and the ones a shell that
// started the bridge in the background may have set to be ignored.
constexpr int kResetSignals[] = {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD};

constexpr char kShell[] = "/bin/sh";

std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (const auto& text : texts)
        result.push_back(const_cast<char*>(text.c_str()));
    result.push_back(nullptr);
    return result;
}

}  // namespace

SpawnPlan::SpawnPlan() {
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_init(&actions_);
}

SpawnPlan::~SpawnPlan() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
}

void SpawnPlan::capture_output(int stdout_fd, int stderr_fd) {
    posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, stdout_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, stderr_fd, STDERR_FILENO);
    // Descriptors of the bridge (its sockets, other commands' pipes) are
    // close-on-exec already; this also covers any a library left open.
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
}

void SpawnPlan::own_process_group() {
    posix_spawnattr_setpgroup(&attr_, 0);
    flags_ |= POSIX_SPAWN_SETPGROUP;
}

void SpawnPlan::reset_signals(const sigset_t& mask) {
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : kResetSignals)
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setsigmask(&attr_, &mask);
    flags_ |= POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
}

pid_t SpawnPlan::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       bool search_path, int& error) {
    posix_spawnattr_setflags(&attr_, flags_);
    const auto path = search_path ? find_in_path(argv[0], error) : std::optional(argv[0]);
    if (!path) return -1;
    auto args = pointers(argv);
    auto vars = pointers(env);
    pid_t pid = -1;
    int result = posix_spawn(&pid, path->c_str(), &actions_, &attr_, args.data(), vars.data());
    // A file that is executable but no program the kernel knows, such as a
    // script without a "#!" line, is run by the shell, as a shell would.
    if (result == ENOEXEC) {
        std::vector<std::string> shell_argv{kShell, *path};
        shell_argv.insert(shell_argv.end(), argv.begin() + 1, argv.end());
        auto shell_args = pointers(shell_argv);
        result = posix_spawn(&pid, kShell, &actions_, &attr_, shell_args.data(), vars.data());
    }
    if (result != 0) {
        error = result;
        return -1;
    }
    return pid;
}

std::optional<std::string> find_in_path(const std::string& name, int& error) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/bin:/usr/bin";
    error = ENOENT;
    for (;;) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        const std::string candidate =
            (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
            error = EACCES;
        }
        if (colon == std::string_view::npos) return std::nullopt;
        dirs.remove_prefix(colon + 1);
    }
}

std::vector<std::string> bridge_environment(std::string_view endpoint, std::string_view token) {
    // A PID variable left from a bridge served earlier would let a command's
    // --stop end that other bridge.
    auto env = environment_without({kEndpointVariable, kTokenVariable, kPidVariable});
    env.push_back(std::string(kEndpointVariable) + "=" + std::string(endpoint));
    env.push_back(std::string(kTokenVariable) + "=" + std::string(token));
    return env;
}

std::vector<std::string> environment_without(const std::vector<std::string>& drop) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        const std::string_view name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const auto& unwanted : drop)
            dropped = dropped || name == unwanted;
        if (!dropped) env.emplace_back(text);
    }
    return env;
}

int wait_for_exit_status(pid_t pid) {
    int status = 0;
    if (sys::waitpid(pid, &status, 0) < 0) return -1;
    if (WIFSIGNALED(status)) return kSignalStatusBase + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace velmot::devbridge
