#include "doctor/check.h"

#include <optional>
#include <string>
#include <string_view>

#include "bridge/connection.h"
#include "common/descriptor_io.h"
#include "common/failure_note.h"
#include "doctor/explanation.h"
#include "doctor/quote.h"
#include "launcher/endpoint.h"

namespace velmot::doctor {
namespace {

constexpr int kAllWell = 0;
constexpr int kProblemFound = 1;

void report(std::string_view text) {
    (void)write_all(1, text);
}

void found(std::string_view text) {
    report(doctor_line({text}));
}

// Reports the failure just recorded, then forgets it for the next check.
void explain_and_clear() {
    report(explain(failure_note(), {}));
    clear_failure_note();
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
    if (const std::optional<std::string_view> token = read_token()) {
        found(std::string(kTokenVariable) + ": set, " + std::to_string(token->size()) +
              " bytes: ok");
    } else {
        well = false;
        explain_and_clear();
    }
    if (!endpoint) {
        found("connection: not tried without a valid endpoint");
        return kProblemFound;
    }
    const std::string address = endpoint->host + ":" + std::to_string(endpoint->port);
    if (connect_to_bridge(*endpoint)) {
        found("connection to " + address + ": ok (nothing was sent)");
    } else {
        well = false;
        explain_and_clear();
    }
    found(well ? "all well" : "problems found");
    return well ? kAllWell : kProblemFound;
}

}  // namespace velmot::doctor
