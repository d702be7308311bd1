// What the doctor says about a failed run: from the failure note the shared
// code recorded, which step failed, where, which rule was broken and what to
// do next, as lines for standard error.
#pragma once

#include <string>
#include <string_view>

#include "common/failure_note.h"

namespace velmot::doctor {

// The name of a step, as the doctor prints it ("frame line").
std::string_view step_name(FailureStep step);

// The explanation of `note`, each line starting with "velmot_doctor: " and
// ending in a line feed. `invocation` is the command name the run was given;
// it is quoted where the rule is about it.
std::string explain(const FailureNote& note, std::string_view invocation);

}  // namespace velmot::doctor
