#include "devbridge/command_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "common/limits.h"
#include "common/system_calls.h"
#include "common/unique_fd.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/spawn.h"

namespace velmot::devbridge {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

// Close-on-exec, so that another command spawned meanwhile does not hold the
// write end open and delay the end of this command's output.
std::optional<Pipe> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

enum class Drain { Done, Refused, Failed, Abandoned };

// What one command's run watches: its two output pipes, its own end (a
// process descriptor that becomes readable when it exits) and its client.
class Watch {
  public:
    Watch(int stdout_fd, int stderr_fd, int process_fd, int client_fd, pid_t group)
        : fds_{{stdout_fd, POLLIN, 0},
               {stderr_fd, POLLIN, 0},
               {process_fd, POLLIN, 0},
               {client_fd, POLLRDHUP, 0}},
          group_(group) {}

    Drain run(const OutputSink& sink);

  private:
    static constexpr int kStdout = 0, kStderr = 1, kProcess = 2, kClient = 3;

    int timeout_ms() const;
    bool pipes_open() const { return fds_[kStdout].fd >= 0 || fds_[kStderr].fd >= 0; }
    void close_pipes() { fds_[kStdout].fd = fds_[kStderr].fd = -1; }
    void client_gone();

    // poll skips negative descriptors: a closed stream is set to -1.
    struct pollfd fds_[4];
    pid_t group_;
    std::optional<Clock::time_point> pipes_deadline_;
    std::optional<Clock::time_point> kill_deadline_;
    bool abandoned_ = false;
};

int milliseconds_until(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

int Watch::timeout_ms() const {
    const int pipes = pipes_deadline_ ? milliseconds_until(*pipes_deadline_) : -1;
    const int kill = kill_deadline_ ? milliseconds_until(*kill_deadline_) : -1;
    if (pipes < 0 || kill < 0) return pipes < 0 ? kill : pipes;
    return pipes < kill ? pipes : kill;
}

// The client's output is of no use any more: the pipes are closed, so that
// a command that goes on writing gets SIGPIPE, and the group is asked to end.
void Watch::client_gone() {
    abandoned_ = true;
    fds_[kClient].fd = -1;
    close_pipes();
    ::kill(-group_, SIGTERM);
    kill_deadline_ = Clock::now() + std::chrono::milliseconds(kAbandonGraceMs);
}

// Reads both streams until both are closed, or the command has ended and
// the pipes' grace is over. Each read becomes one chunk, so a chunk never
// exceeds the read size, and the two streams interleave in the order their
// data became readable.
Drain Watch::run(const OutputSink& sink) {
    std::string buffer(kMaxChunkBytes, '\0');
    const OutputChannel channels[2] = {OutputChannel::Stdout, OutputChannel::Stderr};
    for (;;) {
        const bool exited = fds_[kProcess].fd < 0;
        if (exited && (!pipes_open() || Clock::now() >= *pipes_deadline_)) break;
        if (kill_deadline_ && Clock::now() >= *kill_deadline_) {
            ::kill(-group_, SIGKILL);
            kill_deadline_.reset();
        }
        if (sys::poll(fds_, 4, timeout_ms()) < 0) return Drain::Failed;
        if (fds_[kClient].fd >= 0 && fds_[kClient].revents != 0) client_gone();
        if (fds_[kProcess].fd >= 0 && fds_[kProcess].revents != 0) {
            fds_[kProcess].fd = -1;
            pipes_deadline_ = Clock::now() + std::chrono::milliseconds(kPipeGraceMs);
        }
        for (const int i : {kStdout, kStderr}) {
            if (fds_[i].fd < 0 || fds_[i].revents == 0) continue;
            const ssize_t got = sys::read(fds_[i].fd, buffer.data(), buffer.size());
            if (got < 0) return Drain::Failed;
            if (got == 0) {
                fds_[i].fd = -1;
            } else if (!sink(channels[i], std::string_view(buffer.data(), got))) {
                return Drain::Refused;
            }
        }
    }
    return abandoned_ ? Drain::Abandoned : Drain::Done;
}

// Waits for the command to end without reaping it, forgets it, then reaps
// it: the registry must never signal a process id that may be reused.
int finish(pid_t pid, ProcessRegistry& registry) {
    siginfo_t info;
    (void)sys::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    registry.forget(pid);
    return wait_for_exit_status(pid);
}

}  // namespace

CommandResult run_command(const std::string& path, const std::vector<std::string>& args,
                          const CommandContext& context, int client_fd, const OutputSink& sink) {
    CommandResult result;
    auto out = make_pipe();
    auto err = make_pipe();
    if (!out || !err) return {CommandResult::End::NotStarted, 0, errno};

    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    SpawnPlan plan;
    plan.capture_output(out->write.get(), err->write.get());
    plan.own_process_group();
    plan.reset_signals(context.child_mask);

    pid_t pid = -1;
    const bool accepted = context.registry.start(
        [&] { return plan.spawn(argv, context.environment, false, result.error); }, pid);
    if (!accepted) return {CommandResult::End::Stopping, 0, 0};
    if (pid < 0) return {CommandResult::End::NotStarted, 0, result.error};
    out->write.reset();
    err->write.reset();

    // The process is not reaped before `finish`, so its id cannot be reused
    // before the descriptor is opened.
    const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const Drain drained =
        process.valid()
            ? Watch(out->read.get(), err->read.get(), process.get(), client_fd, pid).run(sink)
            : Drain::Failed;
    if (drained == Drain::Refused || drained == Drain::Failed) ::kill(-pid, SIGKILL);
    out->read.reset();
    err->read.reset();
    const int status = finish(pid, context.registry);
    switch (drained) {
        case Drain::Refused:
            return {CommandResult::End::Refused, 0, 0};
        case Drain::Abandoned:
            return {CommandResult::End::Abandoned, 0, 0};
        case Drain::Failed:
            return {CommandResult::End::Lost, 0, 0};
        case Drain::Done:
            break;
    }
    if (status < 0) return {CommandResult::End::Lost, 0, 0};
    return {CommandResult::End::Exited, static_cast<std::uint8_t>(status), 0};
}

}  // namespace velmot::devbridge
