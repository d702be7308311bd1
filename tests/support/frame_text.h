// A decoded frame written out field by field, so that tests can state what a
// line decodes to as text.
#pragma once

#include <string>

namespace velmot::testing {

// Decodes a copy of `line`: "output v1 stdout <Base64 text>",
// "terminal v1 exit 0", "failure v1 code <code> message <message> exit 1",
// or "rejected: <reason>", the name of the failure reason the decoder noted
// ("rejected: FrameKindUnknown").
std::string describe_frame(std::string line);

}  // namespace velmot::testing
