#include "devbridge/invocation_handler.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "common/system_calls.h"
#include "common/unique_fd.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/frame_body.h"

namespace velmot::devbridge {

namespace {

bool is_regular_file(const std::string& path) {
    struct stat info;
    return sys::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

InvocationAnswer fail(FrameBody& body, std::string_view code, std::string_view message,
                      std::uint8_t exit_code) {
    body.close_with_failure(code, message, exit_code);
    return {exit_code, false};
}

// What is missing, where it was looked for, and a link found in its place
// that leads nowhere.
InvocationAnswer unknown_command(FrameBody& body, const InvocationCall& call,
                                 const std::string& commands_dir, const std::string& path) {
    std::string message =
        call.plugin_id ? "no plug-in with the id \"" + *call.plugin_id + "\" in " + commands_dir
                       : "no core command " + std::string(kCoreCommandName) + " in " + commands_dir;
    struct stat info;
    if (sys::lstat(path.c_str(), &info) == 0) {
        message += S_ISLNK(info.st_mode) ? "; " + path + " is a link to nothing"
                                         : "; " + path + " is no regular file";
    }
    return fail(body, call.plugin_id ? "unknown_plugin" : "unknown_command", message,
                kStatusNotFound);
}

// The interpreter a "#!" line names, with a carriage return at its end
// kept; empty when the file does not start with one.
std::string interpreter_of(const std::string& path) {
    char start[256];
    const UniqueFd file(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t got = file.valid() ? sys::read(file.get(), start, sizeof start) : -1;
    if (got < 2 || start[0] != '#' || start[1] != '!') return {};
    std::string_view line(start + 2, static_cast<std::size_t>(got) - 2);
    line = line.substr(0, line.find('\n'));
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return std::string(line.substr(0, line.find_first_of(" \t")));
}

// A file that is there but cannot be started, for lack of its interpreter
// most of the time: the message names the interpreter, and a carriage
// return that ends it (a script saved with CRLF line ends).
InvocationAnswer not_started(FrameBody& body, const std::string& path, int error) {
    std::string message = "the command could not be started: ";
    message += error == 0 ? "no resources" : std::strerror(error);
    const std::string interpreter =
        error == ENOENT || error == EACCES ? interpreter_of(path) : std::string();
    if (!interpreter.empty() && interpreter.back() == '\r') {
        message += "; its interpreter line names " + interpreter.substr(0, interpreter.size() - 1) +
                   " followed by a carriage return: the script has CRLF line ends";
    } else if (!interpreter.empty()) {
        message += "; its interpreter line names " + interpreter;
    }
    return fail(body, "command_not_started", message, kStatusNotExecutable);
}

InvocationAnswer close_body(FrameBody& body, const std::string& path, const CommandResult& result,
                            ProcessRegistry& registry) {
    switch (result.end) {
        case CommandResult::End::Exited:
            // Ended by a signal while the bridge stops: the bridge ended it.
            if (result.status > kSignalStatusBase && registry.closing()) {
                return fail(body, "bridge_stopping",
                            "the bridge is shutting down and ended the command (signal " +
                                std::to_string(result.status - kSignalStatusBase) + ")",
                            kStatusBridgeFailure);
            }
            body.close_with_terminal(result.status);
            return {result.status, false};
        case CommandResult::End::Refused:
            return fail(body, "output_too_large",
                        "the command's output does not fit into one response; it was stopped",
                        kStatusBridgeFailure);
        case CommandResult::End::NotStarted:
            return not_started(body, path, result.error);
        case CommandResult::End::Stopping:
            return fail(body, "bridge_stopping", "the bridge is shutting down",
                        kStatusBridgeFailure);
        case CommandResult::End::Abandoned:
            return {kStatusBridgeFailure, true};
        case CommandResult::End::Lost:
            break;
    }
    return fail(body, "command_lost", "the command's output could not be read; it was stopped",
                kStatusBridgeFailure);
}

}  // namespace

InvocationAnswer answer_invocation(const InvocationCall& call, const std::string& commands_dir,
                                   const CommandContext& context, int client_fd,
                                   FrameReply& reply) {
    FrameBody& body = reply.body();
    // Plug-in ids cannot hold "/" and never start with "." or "_", so the
    // path stays inside the commands directory and is never the core's.
    const std::string path =
        commands_dir + "/" + (call.plugin_id ? *call.plugin_id : std::string(kCoreCommandName));
    if (!is_regular_file(path)) return unknown_command(body, call, commands_dir, path);
    const auto result = run_command(path, call.argv, context, client_fd,
                                    [&](OutputChannel channel, std::string_view chunk) {
                                        return reply.add_output(channel, chunk);
                                    });
    // A chunk that could not be sent stopped the command as one that did not
    // fit would: the client has gone.
    if (reply.client_gone()) return {kStatusBridgeFailure, true};
    return close_body(body, path, result, context.registry);
}

}  // namespace velmot::devbridge
