// Answering one decoded invocation: finding its command in the commands
// directory (kCoreCommandName for a core invocation, the plug-in id for a
// plug-in),
// running it and putting its output and its end into the reply's frames.
#pragma once

#include <cstdint>
#include <string>

#include "devbridge/command_runner.h"
#include "devbridge/frame_reply.h"
#include "devbridge/invocation_request.h"

namespace velmot::devbridge {

// The file in the commands directory that a core invocation runs: a name
// that no plug-in id can have (an id starts with a letter or a digit), so
// that every plug-in id can be served.
inline constexpr char kCoreCommandName[] = "_core";
// How the log names a core invocation.
inline constexpr char kCoreInvocationName[] = "_core";

struct InvocationAnswer {
    // The exit status the closing frame carries.
    std::uint8_t exit_code = 0;
    // The client went away while the command ran: the reply has no closing
    // frame and nobody to take it.
    bool abandoned = false;
};

// Fills `reply` up to and including its closing frame; the caller finishes
// it. `reply`'s connection is watched while the command runs.
InvocationAnswer answer_invocation(const InvocationCall& call, const std::string& commands_dir,
                                   const CommandContext& context, int client_fd, FrameReply& reply);

}  // namespace velmot::devbridge
