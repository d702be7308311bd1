#include "devbridge/invocation_handler.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <string_view>

#include "devbridge/devbridge_limits.h"
#include "devbridge/frame_body.h"

namespace velmot::devbridge {

namespace {

bool is_regular_file(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

InvocationAnswer fail(FrameBody& body, std::string_view code, std::string_view message,
                      std::uint8_t exit_code) {
    body.close_with_failure(code, message, exit_code);
    return {exit_code, false};
}

InvocationAnswer unknown_command(FrameBody& body, const InvocationCall& call) {
    if (!call.plugin_id) {
        return fail(body, "unknown_command", "the commands directory has no core command",
                    kStatusNotFound);
    }
    return fail(body, "unknown_plugin", "no plug-in with the id \"" + *call.plugin_id + "\"",
                kStatusNotFound);
}

InvocationAnswer not_started(FrameBody& body, int error) {
    const std::string reason = error == 0 ? "no resources" : std::strerror(error);
    return fail(body, "command_not_started", "the command could not be started: " + reason,
                kStatusNotExecutable);
}

InvocationAnswer close_body(FrameBody& body, const CommandResult& result) {
    switch (result.end) {
        case CommandResult::End::Exited:
            body.close_with_terminal(result.status);
            return {result.status, false};
        case CommandResult::End::Refused:
            return fail(body, "output_too_large",
                        "the command's output does not fit into one response; it was stopped",
                        kStatusBridgeFailure);
        case CommandResult::End::NotStarted:
            return not_started(body, result.error);
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
    // The core command's file name is reserved: no plug-in can take it.
    if (call.plugin_id == kCoreCommandName) return unknown_command(body, call);
    // Plug-in ids cannot hold "/" and never start with ".", so the path
    // stays inside the commands directory.
    const std::string path =
        commands_dir + "/" + (call.plugin_id ? *call.plugin_id : std::string(kCoreCommandName));
    if (!is_regular_file(path)) return unknown_command(body, call);
    const auto result = run_command(path, call.argv, context, client_fd,
                                    [&](OutputChannel channel, std::string_view chunk) {
                                        return reply.add_output(channel, chunk);
                                    });
    // A chunk that could not be sent stopped the command as one that did not
    // fit would: the client has gone.
    if (reply.client_gone()) return {kStatusBridgeFailure, true};
    return close_body(body, result);
}

}  // namespace velmot::devbridge
