#include "support/frame_text.h"

#include <optional>
#include <variant>

#include "bridge/bridge_frame.h"
#include "common/failure_note.h"

namespace velmot::testing {
namespace {

constexpr std::string_view kReasonNames[] = {"None",
#define VELMOT_REASON_NAME(name, step, rule, next) #name,
                                             VELMOT_FAILURE_REASONS(VELMOT_REASON_NAME)
#undef VELMOT_REASON_NAME
};

}  // namespace

std::string describe_frame(std::string line) {
    clear_failure_note();
    const std::optional<BridgeFrame> frame = decode_frame(line);
    if (!frame) {
        return "rejected: " +
               std::string(kReasonNames[static_cast<std::size_t>(failure_note().reason)]);
    }
    if (const auto* out = std::get_if<Output>(&*frame)) {
        return "output v" + std::to_string(out->protocol_version) +
               (out->channel == OutputChannel::Stdout ? " stdout " : " stderr ") +
               std::string(out->bytes_base64.data(), out->bytes_base64.size());
    }
    if (const auto* end = std::get_if<Terminal>(&*frame)) {
        return "terminal v" + std::to_string(end->protocol_version) + " exit " +
               std::to_string(end->exit_code);
    }
    const auto& fail = std::get<Failure>(*frame);
    return "failure v" + std::to_string(fail.protocol_version) + " code " + std::string(fail.code) +
           " message " + std::string(fail.message) + " exit " + std::to_string(fail.exit_code);
}

}  // namespace velmot::testing
