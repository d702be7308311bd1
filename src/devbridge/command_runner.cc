#include "devbridge/command_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "common/limits.h"
#include "common/unique_fd.h"
#include "devbridge/spawn.h"

namespace velmot::devbridge {

namespace {

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

enum class Drain { Closed, Refused, Failed };

// Reads both streams until both are closed. Each read becomes one chunk, so
// a chunk never exceeds the read size, and the two streams interleave in the
// order their data became readable.
Drain drain(int stdout_fd, int stderr_fd, const OutputSink& sink) {
    std::string buffer(kMaxChunkBytes, '\0');
    struct pollfd streams[2] = {{stdout_fd, POLLIN, 0}, {stderr_fd, POLLIN, 0}};
    const OutputChannel channels[2] = {OutputChannel::Stdout, OutputChannel::Stderr};
    int open = 2;
    while (open > 0) {
        if (::poll(streams, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return Drain::Failed;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) continue;
            const ssize_t got = ::read(streams[i].fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return Drain::Failed;
            if (got == 0) {
                streams[i].fd = -1;  // poll skips negative descriptors
                --open;
            } else if (!sink(channels[i], std::string_view(buffer.data(), got))) {
                return Drain::Refused;
            }
        }
    }
    return Drain::Closed;
}

// Waits for the command to end without reaping it, forgets it, then reaps
// it: the registry must never signal a process id that may be reused.
int finish(pid_t pid, ProcessRegistry& registry) {
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    registry.forget(pid);
    return wait_for_exit_status(pid);
}

}  // namespace

CommandResult run_command(const std::string& path, const std::vector<std::string>& args,
                          const CommandContext& context, const OutputSink& sink) {
    CommandResult result;
    auto out = make_pipe();
    auto err = make_pipe();
    if (!out || !err) return {CommandResult::End::NotStarted, 0, errno};

    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto env = environment_without({});
    SpawnPlan plan;
    plan.capture_output(out->write.get(), err->write.get());
    plan.own_process_group();
    plan.reset_signals(context.child_mask);

    pid_t pid = -1;
    const bool accepted =
        context.registry.start([&] { return plan.spawn(argv, env, false, result.error); }, pid);
    if (!accepted) return {CommandResult::End::Stopping, 0, 0};
    if (pid < 0) return {CommandResult::End::NotStarted, 0, result.error};
    out->write.reset();
    err->write.reset();

    const Drain drained = drain(out->read.get(), err->read.get(), sink);
    if (drained != Drain::Closed) ::kill(-pid, SIGKILL);
    out->read.reset();
    err->read.reset();
    const int status = finish(pid, context.registry);
    if (drained == Drain::Refused) return {CommandResult::End::Refused, 0, 0};
    if (drained == Drain::Failed || status < 0) return {CommandResult::End::Lost, 0, 0};
    return {CommandResult::End::Exited, static_cast<std::uint8_t>(status), 0};
}

}  // namespace velmot::devbridge
