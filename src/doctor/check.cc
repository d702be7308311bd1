#include "doctor/check.h"

#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>

#include "bridge/connection.h"
#include "bridge/line_reader.h"
#include "bridge/request_writer.h"
#include "common/descriptor_io.h"
#include "common/exit_codes.h"
#include "common/failure_note.h"
#include "common/limits.h"
#include "common/system_calls.h"
#include "doctor/explanation.h"
#include "doctor/quote.h"
#include "doctor/reply_head.h"
#include "launcher/endpoint.h"

namespace velmot::doctor {
namespace {

// A bridge answers a request that names no command at once; the launcher's
// own receive limit is for commands that run long.
constexpr int kProbeReplyTimeoutMs = 5'000;

constexpr std::string_view kHowToCheckToken =
    "token: to check it, run a command that changes nothing under the doctor: "
    "velmot_doctor velmot-<plugin id> ARG...";

void report(std::string_view text) {
    (void)write_all(STDOUT_FILENO, text);
}

void found(std::string_view text) {
    report(doctor_line({text}));
}

// Reports the failure just recorded, then forgets it for the next check.
void explain_and_clear() {
    report(explain(failure_note(), {}, ReplyHead{}));
    clear_failure_note();
}

void advise(FailureReason reason) {
    if (const std::string_view next = next_step_for(reason); !next.empty()) {
        report(doctor_line({"next: ", next}));
    }
}

// The status code of an HTTP/1.1 status line: the digits after the version
// and its separators.
std::optional<unsigned> status_code(std::string_view line) {
    constexpr std::string_view kVersion = "HTTP/1.1";
    if (!line.starts_with(kVersion)) return std::nullopt;
    line.remove_prefix(kVersion.size());
    while (line.starts_with(' ') || line.starts_with('\t'))
        line.remove_prefix(1);
    unsigned code = 0;
    std::size_t digits = 0;
    for (; digits < line.size() && digits < 3 && line[digits] >= '0' && line[digits] <= '9';
         ++digits) {
        code = code * 10 + static_cast<unsigned>(line[digits] - '0');
    }
    if (digits != 3) return std::nullopt;
    return code;
}

enum class HeadRead { Complete, Closed, Failed };

// Reads the reply's status line and headers, up to the empty line.
HeadRead read_head(LineReader& reader, ReplyHead& head) {
    for (std::size_t number = 0; number <= kMaxHeaderLines; ++number) {
        std::string line;
        if (!reader.read_line(line, kMaxHeadLineBytes)) return HeadRead::Failed;
        if (line.empty()) return head.status_seen ? HeadRead::Complete : HeadRead::Closed;
        if (head.status_seen && (line == "\r\n" || line == "\n")) return HeadRead::Complete;
        add_head_line(head, line);
    }
    return HeadRead::Complete;
}

// What the bridge's answer to a request naming no command shows; true when it
// shows no problem.
bool judge_answer(const ReplyHead& head) {
    if (const std::string evidence = foreign_evidence(head); !evidence.empty()) {
        report(not_a_bridge(evidence));
        return false;
    }
    const std::optional<unsigned> status = status_code(head.status_line);
    const std::string code = status ? std::to_string(*status) : quoted(head.status_line);
    if (status == 401u || status == 403u) {
        found("token: refused: the bridge answered status " + code +
              " to a request that names no command");
        advise(FailureReason::StatusUnauthorized);
        return false;
    }
    if (status == 404u) {
        found("endpoint: the bridge serves nothing at its path (status 404)");
        advise(FailureReason::StatusNotFound);
        return false;
    }
    found("token: not checked: the bridge answered status " + code +
          " to a request that names no command, which a bridge may refuse before it looks at "
          "the token");
    found(kHowToCheckToken);
    return true;
}

// Sends the request with an empty body on the connected socket and judges the
// answer's head; the body is never read, so nothing of it is replayed.
bool probe(int socket_fd, const Endpoint& endpoint, std::string_view token) {
    // Should this fail, the launcher's own, longer limit still ends the wait.
    (void)sys::set_time_limit(socket_fd, SO_RCVTIMEO, kProbeReplyTimeoutMs);
    if (!send_request(socket_fd, endpoint, token, "")) {
        explain_and_clear();
        return false;
    }
    LineReader reader(socket_fd);
    ReplyHead head;
    const HeadRead read = read_head(reader, head);
    const FailureReason why = failure_note().reason;
    clear_failure_note();
    if (read == HeadRead::Complete) return judge_answer(head);
    std::string evidence = foreign_evidence(head);
    if (evidence.empty()) {
        evidence = read == HeadRead::Closed ? "it closed the connection without an answer"
                   : why == FailureReason::NotUtf8
                       ? "its answer is not text"
                       : "no answer arrived within " + std::to_string(kProbeReplyTimeoutMs / 1000) +
                             " seconds";
    }
    report(not_a_bridge(evidence));
    return false;
}

}  // namespace

int check_setup() {
    bool well = true;
    const std::optional<Endpoint> endpoint = read_endpoint();
    if (endpoint) {
        found(std::string(kEndpointVariable) + ": " + quoted(std::getenv(kEndpointVariable)) +
              ": ok");
    } else {
        well = false;
        explain_and_clear();
    }
    const std::optional<std::string_view> token = read_token();
    if (token) {
        found(std::string(kTokenVariable) + ": set, " + std::to_string(token->size()) + " bytes");
    } else {
        well = false;
        explain_and_clear();
    }
    if (!endpoint) {
        found("connection: not tried without a valid endpoint");
        found("problems found");
        return exit_code(ToolExit::Failure);
    }
    const std::string address = endpoint->host + ":" + std::to_string(endpoint->port);
    const std::optional<UniqueFd> socket = connect_to_bridge(*endpoint);
    if (socket) {
        found("connection to " + address + ": ok");
        if (token) {
            well = probe(socket->get(), *endpoint, *token) && well;
        } else {
            found("token: not checked without a valid token");
        }
    } else {
        well = false;
        explain_and_clear();
    }
    found(well ? "no problem found in what was checked; the token was not checked (see above)"
               : "problems found");
    return exit_code(well ? ToolExit::Success : ToolExit::Failure);
}

}  // namespace velmot::doctor
