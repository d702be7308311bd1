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

std::string_view next_step_text(NextStep next) {
    switch (next) {
        case NextStep::StartBridge:
            return "start the host application, or the development bridge "
                   "(eval \"$(velmot_devbridge --serve)\"), and run the command from a shell "
                   "that has its two variables";
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

std::string explain(const FailureNote& note, std::string_view invocation) {
    const ReasonRow& row = kRows[static_cast<std::size_t>(note.reason)];
    const FailureStep step = row.step == FailureStep::Unknown ? note.step : row.step;
    const std::string place = where(note, step, invocation);
    std::string text = doctor_line({"failed at: ", step_name(step), place.empty() ? "" : " (",
                                    place, place.empty() ? "" : ")"});
    text += doctor_line({"rule: ", row.rule});
    if (const std::string_view next = next_step_text(row.next); !next.empty()) {
        text += doctor_line({"next: ", next});
    }
    return text;
}

}  // namespace velmot::doctor
