// What the doctor says about a failed run: from the failure note the shared
// code recorded, which step failed, where, which rule was broken and what to
// do next, as lines for standard error.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/failure_note.h"

namespace velmot::doctor {

// One of the doctor's own lines: "velmot_doctor: ", the parts, a line feed.
std::string doctor_line(std::initializer_list<std::string_view> parts);

// The name of a step, as the doctor prints it ("frame line").
std::string_view step_name(FailureStep step);

// The explanation of `note`, each line starting with "velmot_doctor: " and
// ending in a line feed. `invocation` is the command name the run was given;
// it is quoted where the rule is about it.
std::string explain(const FailureNote& note, std::string_view invocation);

}  // namespace velmot::doctor
