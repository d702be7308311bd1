// What the doctor says about a failed run: from the failure note the shared
// code recorded, which step failed, where, which rule was broken and what to
// do next, as lines for standard error.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/failure_note.h"
#include "doctor/reply_head.h"

namespace velmot::doctor {

// One of the doctor's own lines: "velmot_doctor: ", the parts, a line feed.
std::string doctor_line(std::initializer_list<std::string_view> parts);

// The name of a step, as the doctor prints it ("frame line").
std::string_view step_name(FailureStep step);

// The rule `reason` stands for, and what to do next about it (empty where
// nothing obvious is).
std::string_view rule_of(FailureReason reason);
std::string_view next_step_for(FailureReason reason);

// The lines for a reply that probably came from another program, with
// `evidence` (see foreign_evidence): the variables may be stale.
std::string not_a_bridge(std::string_view evidence);

// The explanation of `note`, each line starting with "velmot_doctor: " and
// ending in a line feed. `invocation` is the command name the run was given;
// it is quoted where the rule is about it. Where the run failed on the reply
// and `reply` (its head, as far as it arrived) or the failure itself shows
// another program rather than a bridge, the advice is about stale variables,
// not about the bridge.
std::string explain(const FailureNote& note, std::string_view invocation, const ReplyHead& reply);

}  // namespace velmot::doctor
