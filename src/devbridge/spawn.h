// Starting child processes with posix_spawn, which is safe in a process with
// many threads (no code of ours runs between fork and exec). A `SpawnPlan`
// owns the spawn attributes and file actions and is used for one spawn.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmot::devbridge {

class SpawnPlan {
  public:
    SpawnPlan();
    ~SpawnPlan();
    SpawnPlan(const SpawnPlan&) = delete;
    SpawnPlan& operator=(const SpawnPlan&) = delete;

    // The child's standard input reads /dev/null, its standard output and
    // standard error go to the given descriptors, and every other
    // descriptor is closed.
    void capture_output(int stdout_fd, int stderr_fd);
    // The child leads a new process group, so that the whole command,
    // whatever it starts, can be signalled at once.
    void own_process_group();
    // The child starts with `mask` as its signal mask and the default action
    // for every signal the bridge may have ignored or handled.
    void reset_signals(const sigset_t& mask);

    // Starts `argv[0]` (searched in PATH when `search_path` and it has no
    // slash) with `argv` and `env` ("NAME=value" entries); a file the
    // kernel cannot execute is run by /bin/sh. Returns the child's pid, or
    // -1 with `error` set to the errno value.
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                bool search_path, int& error);

  private:
    posix_spawnattr_t attr_;
    posix_spawn_file_actions_t actions_;
    short flags_ = 0;
};

// The first regular, executable file called `name` in the directories of
// PATH, or `name` itself when it holds a slash; nullopt with `error` set to
// ENOENT (none found) or EACCES (found, not executable).
std::optional<std::string> find_in_path(const std::string& name, int& error);

// The process's own environment with the bridge's two variables set to
// `endpoint` and `token` and without the PID variable: what every command
// the bridge starts gets.
std::vector<std::string> bridge_environment(std::string_view endpoint, std::string_view token);

// The process's own environment as "NAME=value" entries, without the
// entries whose names are listed in `drop`.
std::vector<std::string> environment_without(const std::vector<std::string>& drop);

// Waits for `pid` to end and reaps it. Returns the shell's view of its
// status: its exit status, or 128 plus the signal that ended it; -1 when it
// cannot be waited for.
int wait_for_exit_status(pid_t pid);

}  // namespace velmot::devbridge
