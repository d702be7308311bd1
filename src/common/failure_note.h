// Why a run failed, for the diagnosing companion. The launcher ends every
// failure with the same line and status; the step that finds a failure also
// records here which rule was broken and where, at the cost of a few stores
// on the failure path and nothing on any other. The launcher never reads the
// record; the companion (velmot_doctor) runs the same code and explains it.
// The record is the calling thread's own: code shared with a threaded program
// (the development bridge) notes and reads its failures without a race.
//
// Every rule is one row of VELMOT_FAILURE_REASONS: its name, the step of the
// run it belongs to, what it requires in words a host developer understands,
// and the obvious next step, if any. A new rule gets its explanation where it
// is written. Rules of a receive failure belong to whichever step was
// reading; the reader names that step (`note_failure_step`).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmot {

enum class FailureStep : std::uint8_t {
    Unknown,
    Environment,
    Endpoint,
    Token,
    InvocationName,
    Arguments,
    Connect,
    Send,
    StatusLine,
    HeaderSection,
    Body,
    FrameLine,
    FrameHandling,
    Output,
};

// What to do next, where it is obvious.
enum class NextStep : std::uint8_t {
    None,
    StartBridge,
    SetVariables,
    CheckToken,
    CheckPath,
    FixName,
    FixArguments,
    ReportBridge,
    CheckOutput,
};

// clang-format off
#define VELMOT_FAILURE_REASONS(X)                                                                  \
    X(EndpointUnset, Environment, "VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT is not set", StartBridge)   \
    X(EndpointNotUtf8, Environment, "VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT is not valid UTF-8",      \
      SetVariables)                                                                                \
    X(TokenUnset, Environment, "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN is not set", StartBridge)         \
    X(TokenNotUtf8, Environment, "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN is not valid UTF-8",            \
      SetVariables)                                                                                \
    X(EndpointScheme, Endpoint, "the endpoint must start with \"http://127.0.0.1:\"",              \
      SetVariables)                                                                                \
    X(EndpointNoPath, Endpoint, "the endpoint needs a \"/\" and a path after the port",            \
      SetVariables)                                                                                \
    X(EndpointHost, Endpoint,                                                                      \
      "the endpoint's host must be exactly 127.0.0.1, then \":\" and the port", SetVariables)      \
    X(EndpointPort, Endpoint,                                                                      \
      "the endpoint's port must be a decimal number from 1 to 65535", SetVariables)                \
    X(EndpointEmptyPath, Endpoint, "the endpoint's path needs at least one byte after \"/\"",      \
      SetVariables)                                                                                \
    X(EndpointLineBreak, Endpoint,                                                                 \
      "the endpoint's path may not hold a carriage return or line feed", SetVariables)             \
    X(TokenEmpty, Token, "the token is empty", SetVariables)                                       \
    X(TokenLineBreak, Token, "the token may not hold a carriage return or line feed",              \
      SetVariables)                                                                                \
    X(NameMissing, InvocationName, "there is no command name to take a file name from", FixName)   \
    X(NameNoFile, InvocationName,                                                                  \
      "the command name has no file name (it is empty, \"/\", \".\" or ends in \"..\")", FixName)  \
    X(NameNotUtf8, InvocationName, "the command's file name is not valid UTF-8", FixName)          \
    X(NameUnknown, InvocationName,                                                                 \
      "the command's file name must be \"velmot\" or \"velmot-\" and a plug-in id", FixName)       \
    X(NameIsLauncher, InvocationName,                                                              \
      "velmot-plugin-cli-client is the launcher's own name, not a command", FixName)               \
    X(PluginIdLength, InvocationName, "a plug-in id is 1 to 128 bytes long", FixName)              \
    X(PluginIdStart, InvocationName, "a plug-in id starts with a-z or 0-9", FixName)               \
    X(PluginIdByte, InvocationName,                                                                \
      "a plug-in id holds only a-z, 0-9, \".\", \"_\" and \"-\" (no capitals, no spaces)",         \
      FixName)                                                                                     \
    X(TooManyArguments, Arguments, "at most 64 arguments can be forwarded", FixArguments)          \
    X(ArgumentNotUtf8, Arguments, "every argument must be valid UTF-8", FixArguments)              \
    X(ArgumentTooLong, Arguments, "an argument may be at most 4096 characters long",               \
      FixArguments)                                                                                \
    X(ConnectRefused, Connect, "nothing accepts connections on the endpoint's port", StartBridge)  \
    X(ConnectTimedOut, Connect, "the bridge did not accept the connection within 3 seconds",       \
      StartBridge)                                                                                 \
    X(ConnectFailed, Connect, "the connection to 127.0.0.1 could not be made", StartBridge)        \
    X(SendFailed, Send, "the bridge closed or reset the connection while the request was sent",    \
      ReportBridge)                                                                                \
    X(SendTimedOut, Send, "the bridge took no request bytes for 10 seconds", ReportBridge)         \
    X(ReceiveTimedOut, Unknown, "nothing arrived from the bridge for 300 seconds", ReportBridge)   \
    X(ReceiveFailed, Unknown, "receiving from the bridge failed: the connection was reset",        \
      ReportBridge)                                                                                \
    X(NotUtf8, Unknown, "everything the bridge sends must be valid UTF-8", ReportBridge)           \
    X(ClosedBeforeReply, StatusLine, "the bridge closed the connection without a reply",           \
      ReportBridge)                                                                                \
    X(StatusLineTooLong, StatusLine, "the status line is longer than 65,536 bytes", ReportBridge)  \
    X(NotHttp11, StatusLine, "the status line must start with \"HTTP/1.1\"", ReportBridge)         \
    X(StatusCodeInvalid, StatusLine, "the status code must be a decimal number up to 65535",       \
      ReportBridge)                                                                                \
    X(StatusUnauthorized, StatusLine, "the bridge refused the token (status 401 or 403)",          \
      CheckToken)                                                                                  \
    X(StatusNotFound, StatusLine, "nothing is served at the endpoint's path (status 404)",         \
      CheckPath)                                                                                   \
    X(StatusNot200, StatusLine, "the bridge must answer with status 200", ReportBridge)            \
    X(ClosedInHeaders, HeaderSection, "the connection ended inside the header section",            \
      ReportBridge)                                                                                \
    X(HeaderLineTooLong, HeaderSection, "a header line is longer than 65,536 bytes",               \
      ReportBridge)                                                                                \
    X(TooManyHeaders, HeaderSection, "the header section has more than 1024 lines",               \
      ReportBridge)                                                                                \
    X(HeaderNoColon, HeaderSection, "every header line needs a colon", ReportBridge)               \
    X(ContentLengthInvalid, HeaderSection,                                                         \
      "Content-Length must be decimal digits worth at most 12,582,912", ReportBridge)              \
    X(ContentLengthMissing, HeaderSection, "the reply needs a Content-Length header",              \
      ReportBridge)                                                                                \
    X(BodyEndedEarly, Body, "the connection ended before Content-Length bytes of body arrived",    \
      ReportBridge)                                                                                \
    X(BodyLineUnterminated, Body, "every body line must end in a line feed", ReportBridge)         \
    X(LineAfterTerminal, Body, "the terminal or failure frame must be the body's last line",       \
      ReportBridge)                                                                                \
    X(NoTerminalFrame, Body, "the body must end with a terminal or failure frame", ReportBridge)   \
    X(FrameNotJson, FrameLine, "the line is not well-formed JSON", ReportBridge)                   \
    X(FrameNotContainer, FrameLine, "a frame is a JSON object or array", ReportBridge)             \
    X(FrameTooDeep, FrameLine, "arrays and objects may nest at most 127 levels deep",              \
      ReportBridge)                                                                                \
    X(FrameTrailingBytes, FrameLine, "a line holds exactly one frame", ReportBridge)               \
    X(FrameKindMissing, FrameLine, "a frame object needs a \"kind\" member", ReportBridge)         \
    X(FrameKindTwice, FrameLine, "\"kind\" may be given only once", ReportBridge)                  \
    X(FrameKindUnknown, FrameLine,                                                                 \
      "the kind must be plugin_cli_output, plugin_cli_terminal or plugin_cli_failure",             \
      ReportBridge)                                                                                \
    X(FrameArrayLength, FrameLine,                                                                 \
      "the array form holds the kind and then exactly its fields, in order", ReportBridge)         \
    X(FrameFieldMissing, FrameLine, "every field of the frame's kind is required", ReportBridge)   \
    X(FrameFieldTwice, FrameLine, "a field may be given only once", ReportBridge)                  \
    X(FrameFieldNotByte, FrameLine, "this field is a number from 0 to 255 written with digits only", \
      ReportBridge)                                                                                \
    X(FrameFieldNotString, FrameLine, "this field is a JSON string", ReportBridge)                 \
    X(FrameFieldNotChannel, FrameLine,                                                             \
      "the channel is \"stdout\" or \"stderr\", or an object with that one key and null or {}",    \
      ReportBridge)                                                                                \
    X(ProtocolVersion, FrameHandling, "protocol_version must be 1", ReportBridge)                  \
    X(ChunkNotBase64, FrameHandling,                                                               \
      "bytes_base64 must be canonical Base64 (standard alphabet, \"=\" padding)", ReportBridge)    \
    X(ChunkSize, FrameHandling, "a decoded output chunk holds 1 to 65,536 bytes", ReportBridge)    \
    X(FailureCodeInvalid, FrameHandling, "a failure frame's code holds only a-z and \"_\"",        \
      ReportBridge)                                                                                \
    X(StdoutWriteFailed, Output, "the command's output could not be written to standard output",  \
      CheckOutput)                                                                                 \
    X(StderrWriteFailed, Output, "the command's output could not be written to standard error",   \
      CheckOutput)                                                                                 \
    X(StdoutLostAtExit, Output,                                                                    \
      "the last, unterminated line of standard output could not be written at exit", CheckOutput)
// clang-format on

enum class FailureReason : std::uint8_t {
    None,
#define VELMOT_FAILURE_REASON_NAME(name, step, rule, next) name,
    VELMOT_FAILURE_REASONS(VELMOT_FAILURE_REASON_NAME)
#undef VELMOT_FAILURE_REASON_NAME
};

inline constexpr std::uint64_t kNoPosition = UINT64_MAX;

struct FailureNote {
    FailureReason reason = FailureReason::None;
    FailureStep step = FailureStep::Unknown;  // for rules that belong to no one step
    std::uint64_t line = kNoPosition;         // header or body line, or argument, from 1
    std::uint64_t offset = kNoPosition;       // byte within that line (or name), from 0
    std::uint64_t value = kNoPosition;        // a number the rule is about (a status code)
    std::string_view member;                  // the frame member; a static name
};

// Records `reason` unless an earlier, more specific one is there already:
// the innermost step finds a failure first, and the steps around it only add
// where it happened.
void note_failure(FailureReason reason) noexcept;
void note_failure_at(FailureReason reason, std::uint64_t offset) noexcept;
// Each sets its part of the record once, if a reason is there.
void note_failure_step(FailureStep step) noexcept;
void note_failure_line(std::uint64_t line) noexcept;
void note_failure_value(std::uint64_t value) noexcept;
void note_failure_member(std::string_view member) noexcept;

// Notes `reason` and fails the step: `return fail_with(...)` from any step
// whose result is a std::optional.
inline std::nullopt_t fail_with(FailureReason reason) noexcept {
    note_failure(reason);
    return std::nullopt;
}

// The calling thread's record, valid for as long as the thread runs.
const FailureNote& failure_note() noexcept;

// Forgets the calling thread's recorded failure, for a caller that checks
// several things in turn.
void clear_failure_note() noexcept;

}  // namespace velmot
