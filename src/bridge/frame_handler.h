// Gives each decoded frame its effect: an output chunk is Base64-decoded and
// written to the stream it names, a terminal frame yields the exit status, a
// failure frame prints "plugin.cli.bridge_{code}: {message}" on standard error
// and yields its status. The handler keeps no state; the order of frames is
// the response reader's business.
#pragma once

#include "bridge/bridge_frame.h"
#include "common/invocation_result.h"

namespace velmot {

struct FrameOutcome {
    enum class Kind { Continue, Finished, Fail };
    Kind kind = Kind::Fail;
    ExitStatus status = 0;  // meaningful for Finished only

    static constexpr FrameOutcome continue_reading() { return {Kind::Continue, 0}; }
    static constexpr FrameOutcome finished(ExitStatus s) { return {Kind::Finished, s}; }
    static constexpr FrameOutcome fail() { return {Kind::Fail, 0}; }
    friend bool operator==(const FrameOutcome&, const FrameOutcome&) = default;
};

// The frame borrows its body line (see bridge_frame.h); an output chunk is
// decoded over its Base64 text there. When a failure frame's line cannot be written to standard
// error, the process ends at once with status 101 (standard output is flushed first).
FrameOutcome handle_frame(const BridgeFrame& frame);

}  // namespace velmot
