#include "support/frame_text.h"

#include <optional>
#include <variant>

#include "bridge/bridge_frame.h"

namespace velmot::testing {

std::string describe_frame(std::string line) {
    const std::optional<BridgeFrame> frame = decode_frame(line);
    if (!frame) return "rejected";
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
