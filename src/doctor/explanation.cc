#include "doctor/explanation.h"

#include <cstdlib>

#include "common/endpoint.h"
#include "doctor/quote.h"

namespace velmot::doctor {
namespace {

struct ReasonRow {
    FailureStep step;
    std::string_view rule;
    NextStep next;
};

// The table of rules, expanded once for the reason numbers; row 0 is
// FailureReason::None.
constexpr ReasonRow kRows[] = {
    {FailureStep::Unknown, "the run failed without a recorded reason", NextStep::None},
#define VELMOT_FAILURE_REASON_ROW(name, step, rule, next) {FailureStep::step, rule, NextStep::next},
    VELMOT_FAILURE_REASONS(VELMOT_FAILURE_REASON_ROW)
#undef VELMOT_FAILURE_REASON_ROW
};

constexpr std::string_view kStepNames[] = {
    "unknown",   "environment", "endpoint",       "token",       "invocation name",
    "arguments", "connect",     "send",           "status line", "header section",
    "body",      "frame line",  "frame handling", "output",
};

// DIR matters: without --commands the bridge serves the folder it was
// started in, and every plug-in command would then be missing.
constexpr std::string_view kStartBridge =
    "start the host application, or the development bridge on the folder of your plug-in "
    "commands (eval \"$(velmot_devbridge --commands DIR --serve)\"), and run the command "
    "from a shell that has its two variables";

constexpr std::string_view kLeftOver =
    "the variables may be left over from a bridge that stopped, and another program now has "
    "its port: ";

std::string_view next_step_text(NextStep next) {
    switch (next) {
        case NextStep::StartBridge:
            return kStartBridge;
        case NextStep::SetVariables:
            return "set VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT and VELMOT_INTERNAL_PLUGIN_CLI_TOKEN "
                   "exactly as the host application or the development bridge gives them";
        case NextStep::CheckToken:
            return "check that VELMOT_INTERNAL_PLUGIN_CLI_TOKEN matches the running bridge's "
                   "token: a bridge started again has a new one";
        case NextStep::CheckPath:
            return "check that the endpoint's path is the one the running bridge serves";
        case NextStep::FixName:
            return "run the command as velmot, or through a link named velmot-<plugin id>";
        case NextStep::FixArguments:
            return "pass at most 64 arguments of valid UTF-8, each at most 4096 characters";
        case NextStep::ReportBridge:
            return "the bridge's reply breaks the protocol: report it to the host "
                   "application's developers";
        case NextStep::CheckOutput:
            return "check where standard output and standard error go: a full disk, or a "
                   "reader that stopped reading";
        case NextStep::None:
            break;
    }
    return {};
}

// The step's own subject, where the doctor can name it.
std::string subject(const FailureNote& note, FailureStep step, std::string_view invocation) {
    switch (step) {
        case FailureStep::Endpoint:
        case FailureStep::Connect:
        case FailureStep::Send:
            if (const char* value = std::getenv(kEndpointVariable)) {
                return std::string(kEndpointVariable) + " is " + quoted(value);
            }
            return {};
        case FailureStep::InvocationName:
            return "name " + quoted(invocation);
        case FailureStep::Arguments:
            return note.line == kNoPosition ? std::string()
                                            : "argument " + std::to_string(note.line);
        case FailureStep::HeaderSection:
            return note.line == kNoPosition ? std::string()
                                            : "header line " + std::to_string(note.line);
        case FailureStep::Body:
        case FailureStep::FrameLine:
        case FailureStep::FrameHandling:
        case FailureStep::Output:
            return note.line == kNoPosition ? std::string()
                                            : "body line " + std::to_string(note.line);
        default:
            return {};
    }
}

// Whether the run failed where the reply itself is judged, and so where a
// reply from some other program would fail.
bool judges_reply(FailureStep step) {
    return step == FailureStep::StatusLine || step == FailureStep::HeaderSection ||
           step == FailureStep::Body || step == FailureStep::FrameLine;
}

// What speaks against the reply being a bridge's: its head, and a first body
// line or status line that is no frame or no text at all, where a bridge's
// first line is always a frame.
std::string foreign_reply(const FailureNote& note, FailureStep step, const ReplyHead& reply) {
    if (!judges_reply(step)) return {};
    std::string evidence = foreign_evidence(reply);
    std::string_view more;
    if (step == FailureStep::StatusLine && note.reason == FailureReason::NotUtf8) {
        more = "the status line is not text";
    } else if (note.line == 1 && (step == FailureStep::Body || step == FailureStep::FrameLine) &&
               (note.reason == FailureReason::NotUtf8 ||
                note.reason == FailureReason::FrameNotJson ||
                note.reason == FailureReason::FrameNotContainer ||
                note.reason == FailureReason::FrameKindMissing)) {
        more = "body line 1 is not a frame";
    }
    if (!more.empty()) evidence += (evidence.empty() ? "" : ", ") + std::string(more);
    return evidence;
}

// Where the rule was broken: the step's subject, the byte, the member.
std::string where(const FailureNote& note, FailureStep step, std::string_view invocation) {
    std::string parts = subject(note, step, invocation);
    auto add = [&parts](std::string part) {
        if (!parts.empty()) parts += ", ";
        parts += part;
    };
    if (note.offset != kNoPosition) {
        add(step == FailureStep::InvocationName
                ? "byte " + std::to_string(note.offset) + " of the plug-in id"
                : "byte " + std::to_string(note.offset));
    }
    if (!note.member.empty()) add("member " + quoted(note.member));
    if (note.value != kNoPosition)
        add(step == FailureStep::StatusLine ? "status " + std::to_string(note.value)
                                            : std::to_string(note.value) + " given");
    return parts;
}

}  // namespace

std::string doctor_line(std::initializer_list<std::string_view> parts) {
    std::string line = "velmot_doctor: ";
    for (const std::string_view part : parts)
        line += part;
    line += '\n';
    return line;
}

std::string_view step_name(FailureStep step) {
    return kStepNames[static_cast<std::size_t>(step)];
}

std::string_view rule_of(FailureReason reason) {
    return kRows[static_cast<std::size_t>(reason)].rule;
}

std::string_view next_step_for(FailureReason reason) {
    return next_step_text(kRows[static_cast<std::size_t>(reason)].next);
}

std::string not_a_bridge(std::string_view evidence) {
    return doctor_line({"seen: the port answers, but probably not as a bridge: ", evidence}) +
           doctor_line({"next: ", kLeftOver, kStartBridge});
}

std::string explain(const FailureNote& note, std::string_view invocation, const ReplyHead& reply) {
    const ReasonRow& row = kRows[static_cast<std::size_t>(note.reason)];
    const FailureStep step = row.step == FailureStep::Unknown ? note.step : row.step;
    const std::string place = where(note, step, invocation);
    std::string text = doctor_line({"failed at: ", step_name(step), place.empty() ? "" : " (",
                                    place, place.empty() ? "" : ")"});
    text += doctor_line({"rule: ", row.rule});
    // Only a bridge's reply that breaks a rule is the bridge's fault.
    if (const std::string evidence = foreign_reply(note, step, reply); !evidence.empty()) {
        return text + not_a_bridge(evidence);
    }
    if (const std::string_view next = next_step_text(row.next); !next.empty()) {
        text += doctor_line({"next: ", next});
    }
    return text;
}

}  // namespace velmot::doctor
