#include "bridge/bridge_client.h"

namespace velmot {

// Stand-in until the bridge exchange exists: every invocation fails.
InvocationResult invoke(const Endpoint&, std::string_view, std::optional<std::string_view>,
                        std::span<const std::string_view>) {
    return std::nullopt;
}

}  // namespace velmot
