// Answering one decoded invocation: finding its command in the commands
// directory (`core` for a core invocation, the plug-in id for a plug-in),
// running it and building the response body from its output and its end.
#pragma once

#include <cstdint>
#include <string>

#include "devbridge/command_runner.h"
#include "devbridge/invocation_request.h"

namespace velmot::devbridge {

// The file in the commands directory that a core invocation runs; the
// plug-in id of the same name is refused as unknown.
inline constexpr char kCoreCommandName[] = "core";

struct InvocationAnswer {
    // A complete body of frames, within the response size limit.
    std::string body;
    // The exit status its closing frame carries.
    std::uint8_t exit_code = 0;
};

InvocationAnswer answer_invocation(const InvocationCall& call, const std::string& commands_dir,
                                   const CommandContext& context);

}  // namespace velmot::devbridge
