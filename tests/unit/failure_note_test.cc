#include "common/failure_note.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/limits.h"

namespace velmot {
namespace {

struct Rule {
    FailureReason reason;
    std::string_view text;
};

constexpr Rule kRules[] = {
#define VELMOT_RULE(name, step, rule, next) {FailureReason::name, rule},
    VELMOT_FAILURE_REASONS(VELMOT_RULE)
#undef VELMOT_RULE
};

// Digits grouped by thousands, as the rules write numbers of five digits
// and more (4096, but 65,536).
std::string grouped(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    if (digits.size() < 5) return digits;
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text.push_back(',');
        text.push_back(digits[i]);
    }
    return text;
}

// A rule's text may hold a number only where it states a limit, and then the
// limit's value from limits.h; every other number in a rule is a fixed part
// of the protocol (the address, the HTTP version and statuses, the range of a
// byte or a 16-bit number).
TEST(FailureNote, EveryNumberInARuleIsTheLimitItStates) {
    struct Stated {
        FailureReason reason;
        std::string text;
    };
    const std::vector<Stated> limits_stated = {
        {FailureReason::PluginIdLength, "1 to " + grouped(kMaxPluginIdBytes) + " bytes"},
        {FailureReason::TooManyArguments, "at most " + grouped(kMaxArguments) + " arguments"},
        {FailureReason::ArgumentTooLong, grouped(kMaxArgumentCharacters) + " characters"},
        {FailureReason::ConnectTimedOut, grouped(kConnectTimeoutMs / 1000) + " seconds"},
        {FailureReason::SendTimedOut, grouped(kSendTimeoutMs / 1000) + " seconds"},
        {FailureReason::ReceiveTimedOut, grouped(kReceiveTimeoutMs / 1000) + " seconds"},
        {FailureReason::StatusLineTooLong, grouped(kMaxHeadLineBytes) + " bytes"},
        {FailureReason::HeaderLineTooLong, grouped(kMaxHeadLineBytes) + " bytes"},
        {FailureReason::TooManyHeaders, grouped(kMaxHeaderLines) + " lines"},
        {FailureReason::ContentLengthInvalid, "at most " + grouped(kMaxContentLength)},
        {FailureReason::FrameTooDeep, grouped(kMaxFrameNesting) + " levels"},
        {FailureReason::ChunkSize, "1 to " + grouped(kMaxChunkBytes) + " bytes"},
        {FailureReason::ProtocolVersion, "must be " + grouped(kProtocolVersion)},
    };
    const std::string_view fixed[] = {"127.0.0.1", "HTTP/1.1",   "1 to 65535",   "up to 65535",
                                      "0 to 255",  "401 or 403", "404",          "200",
                                      "0-9",       "Base64",     "bytes_base64", "UTF-8"};
    for (const Rule& rule : kRules) {
        std::string text(rule.text);
        auto strike = [&text](std::string_view part) {
            for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part))
                text.erase(at, part.size());
        };
        for (const Stated& stated : limits_stated) {
            if (stated.reason != rule.reason) continue;
            EXPECT_NE(text.find(stated.text), std::string::npos) << rule.text;
            strike(stated.text);
        }
        for (const std::string_view part : fixed)
            strike(part);
        EXPECT_EQ(text.find_first_of("0123456789"), std::string::npos)
            << "a number in \"" << rule.text << "\" is neither a limit nor fixed";
    }
}

}  // namespace
}  // namespace velmot
