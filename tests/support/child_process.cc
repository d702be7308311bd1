#include "support/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/launcher_wrapper.h"

namespace velmot::testing {
namespace {

std::vector<char*> c_strings(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Sets up descriptor `target` of the child; returns the parent's read end
// for a captured stream, else -1.
int arrange_stream(const StreamSetup& setup, int target, posix_spawn_file_actions_t* actions,
                   int& child_end) {
    switch (setup.kind) {
        case StreamSetup::Kind::Closed:
            posix_spawn_file_actions_addclose(actions, target);
            return -1;
        case StreamSetup::Kind::Descriptor:
            posix_spawn_file_actions_adddup2(actions, setup.fd, target);
            return -1;
        case StreamSetup::Kind::Capture:
            break;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2";
        return -1;
    }
    posix_spawn_file_actions_adddup2(actions, fds[1], target);
    child_end = fds[1];
    return fds[0];
}

// Reads what `fd` has; closes it at its end.
void drain(int& fd, std::string& into) {
    char block[65536];
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n > 0) {
        into.append(block, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        close_fd(fd);
    }
}

std::string read_file(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char block[4096];
    for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) {
        text.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// The state letter of /proc/<pid>/stat, which follows the parenthesised
// command name.
char process_state(const std::string& stat) {
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

}  // namespace

bool ChildResult::exited() const {
    return WIFEXITED(wait_status);
}
int ChildResult::exit_code() const {
    return exited() ? WEXITSTATUS(wait_status) : -1;
}

ChildProcess::ChildProcess(const ChildPlan& requested)
    : deadline_(std::chrono::steady_clock::now() + requested.guard) {
    // Under VELMOT_TEST_WRAPPER the launcher runs inside a checking tool.
    const ChildPlan plan = with_emulator(with_test_wrapper(requested));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int out_child = -1;
    int err_child = -1;
    out_fd_ = arrange_stream(plan.out, STDOUT_FILENO, &actions, out_child);
    err_fd_ = arrange_stream(plan.err, STDERR_FILENO, &actions, err_child);

    // The child starts with SIGPIPE at its default and nothing blocked, as
    // from a shell, whatever the test runner has set for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv = c_strings(plan.argv);
    std::vector<char*> env = c_strings(plan.env);
    const int error = ::posix_spawn(&pid_, plan.executable.c_str(), &actions, &attributes,
                                    argv.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close_fd(out_child);
    close_fd(err_child);
    if (error != 0) {
        ADD_FAILURE() << "posix_spawn " << plan.executable << ": " << error;
        pid_ = -1;
        reaped_ = true;
        close_fd(out_fd_);
        close_fd(err_fd_);
        return;
    }
    pid_fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pid_fd_ < 0) ADD_FAILURE() << "pidfd_open";
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &wait_status_, 0);
    }
    close_fd(out_fd_);
    close_fd(err_fd_);
    close_fd(pid_fd_);
}

int ChildProcess::guard_left_ms() const {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

bool ChildProcess::pump() {
    pollfd watched[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    const int left_ms = guard_left_ms();
    if (left_ms == 0) {
        kill_and_fail("the child outlived its guard");
        return false;
    }
    const int ready = ::poll(watched, 2, left_ms);
    if (ready < 0 && errno == EINTR) return true;
    if (ready < 0) {
        kill_and_fail("poll");
        return false;
    }
    if (watched[0].revents != 0) drain(out_fd_, out_);
    if (watched[1].revents != 0) drain(err_fd_, err_);
    return true;
}

void ChildProcess::kill_and_fail(const char* why) {
    ADD_FAILURE() << why;
    ::kill(pid_, SIGKILL);
    close_fd(out_fd_);
    close_fd(err_fd_);
}

const std::string& ChildProcess::read_out_until(std::size_t count) {
    while (out_.size() < count && out_fd_ >= 0 && pump()) {
    }
    return out_;
}

bool ChildProcess::wait_stopped() {
    if (reaped_) return false;
    int status = 0;
    while (::waitpid(pid_, &status, WUNTRACED) < 0) {
        if (errno != EINTR) return false;
    }
    if (WIFSTOPPED(status)) return true;
    wait_status_ = status;
    reaped_ = true;
    return false;
}

bool ChildProcess::wait_blocked_in(long number) {
    const std::string proc = "/proc/" + std::to_string(pid_);
#ifdef VELMOT_CHILD_EMULATOR
    const std::string prefix;
#else
    const std::string prefix = std::to_string(number) + " ";
#endif
    while (guard_left_ms() > 0) {
        const std::string syscall = read_file(proc + "/syscall");
        if (syscall.rfind(prefix, 0) == 0 && syscall.rfind("running", 0) != 0 &&
            process_state(read_file(proc + "/stat")) == 'S') {
            return true;
        }
        ::sched_yield();
    }
    ADD_FAILURE() << "the child never blocked in system call " << number;
    return false;
}

ChildResult ChildProcess::finish() {
    while (pump()) {
    }
    await_exit();
    if (!reaped_) {
        while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }
    return {out_, err_, wait_status_};
}

// Waits, within the guard, until the child has ended, so that a child that
// hangs with no captured stream open fails the test instead of hanging it.
void ChildProcess::await_exit() {
    if (reaped_ || pid_fd_ < 0) return;
    for (;;) {
        pollfd watched{pid_fd_, POLLIN, 0};
        const int left_ms = guard_left_ms();
        const int ready = left_ms == 0 ? 0 : ::poll(&watched, 1, left_ms);
        if (ready > 0) return;
        if (ready < 0 && errno == EINTR) continue;
        kill_and_fail("the child outlived its guard");
        return;
    }
}

ChildResult run_child(const ChildPlan& plan) {
    return ChildProcess(plan).finish();
}

}  // namespace velmot::testing
