// The development bridge's HTTP request reader: what it accepts and the
// status it refuses the rest with, whether the bytes arrive at once or one
// at a time, and the head it hands over.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "devbridge/devbridge_limits.h"
#include "devbridge/http_request.h"

namespace velmot::devbridge {
namespace {

using Step = HttpRequestReader::Step;

constexpr std::string_view kStart = "POST /plugin-cli HTTP/1.1\r\nHost: 127.0.0.1:1\r\n";

struct Outcome {
    Step step = Step::NeedMore;
    int refusal = 0;
    std::string body;
};

// Gives `request` to a reader in pieces of `piece` bytes, reading the body
// as soon as the head is complete.
Outcome read_request(std::string_view request, std::size_t piece) {
    HttpRequestReader reader;
    Outcome outcome;
    while (!request.empty() && outcome.step != Step::Refused && outcome.step != Step::BodyReady) {
        outcome.step = reader.take(request.substr(0, piece));
        request.remove_prefix(piece < request.size() ? piece : request.size());
        if (outcome.step == Step::HeadReady) outcome.step = reader.read_body();
    }
    if (outcome.step == Step::Refused) outcome.refusal = reader.refusal();
    if (outcome.step == Step::BodyReady) outcome.body = reader.body();
    return outcome;
}

std::string with_head(std::string_view fields, std::string_view rest = {}) {
    return std::string(kStart) + std::string(fields) + "\r\n" + std::string(rest);
}

TEST(DevBridgeHttpRequestTest, AcceptsOrRefusesEachRequestAlikeWholeAndByteByByte) {
    std::string many_fields;
    for (int i = 0; i < 99; ++i)
        many_fields += "X-" + std::to_string(i) + ": 1\r\n";
    const std::string big_chunk = std::string(kMaxChunkLineBytes, '0') + "1\r\n";
    struct Case {
        const char* what;
        std::string request;
        int refusal;  // 0: accepted with `body`
        std::string body;
    };
    const Case cases[] = {
        {"length", with_head("Content-Length: 5\r\n", "hello"), 0, "hello"},
        {"bytes past the length", with_head("Content-Length: 2\r\n", "{}extra"), 0, "{}"},
        {"no framing", with_head(""), 0, ""},
        {"chunked",
         with_head("Transfer-Encoding: Chunked\r\n", "2;x=y\r\nab\r\n1\r\nc\r\n0\r\nT: 1\r\n\r\n"),
         0, "abc"},
        {"98 fields and Host", with_head(many_fields.substr(0, many_fields.size() - 9)), 0, ""},
        {"100 fields and Host", with_head(many_fields + "X-a: 1\r\n"), 431, ""},
        {"head over 16 KiB", with_head("X: " + std::string(kMaxHeadBytes, 'a') + "\r\n"), 431, ""},
        {"two lengths", with_head("Content-Length: 1\r\nContent-Length: 1\r\n", "a"), 400, ""},
        {"length and chunked", with_head("Content-Length: 1\r\nTransfer-Encoding: chunked\r\n"),
         400, ""},
        {"signed length", with_head("Content-Length: +1\r\n", "a"), 400, ""},
        {"length over 2 MiB", with_head("Content-Length: 99999999999999999999999\r\n"), 413, ""},
        {"encoded", with_head("Content-Encoding: gzip\r\nContent-Length: 1\r\n", "a"), 415, ""},
        {"other transfer coding", with_head("Transfer-Encoding: gzip\r\n"), 501, ""},
        {"two transfer codings",
         with_head("Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n"), 501, ""},
        {"HTTP/1.0", "POST / HTTP/1.0\r\n\r\n", 505, ""},
        {"no version", "POST /\r\n\r\n", 400, ""},
        {"space in the version", "POST / HTTP/1.1 x\r\n\r\n", 400, ""},
        {"method no token", "PO(ST / HTTP/1.1\r\n\r\n", 400, ""},
        {"space in a field name", with_head("Bad Name: x\r\n"), 400, ""},
        {"control byte in a value", with_head("X: a\x01z\r\n"), 400, ""},
        {"folded line", with_head("X: a\r\n b\r\n"), 400, ""},
        {"chunk size no hex", with_head("Transfer-Encoding: chunked\r\n", "zz\r\n"), 400, ""},
        {"chunk longer than said", with_head("Transfer-Encoding: chunked\r\n", "1\r\nab\r\n"), 400,
         ""},
        {"chunk line too long", with_head("Transfer-Encoding: chunked\r\n", big_chunk), 400, ""},
        {"chunks over 2 MiB",
         with_head("Transfer-Encoding: chunked\r\n",
                   "200000\r\n" + std::string(0x200000, 'a') + "\r\n1\r\n"),
         413, ""},
        {"endless trailer",
         with_head("Transfer-Encoding: chunked\r\n", "0\r\n" + std::string(2000, 'x')), 431, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::size_t piece : {c.request.size(), std::size_t{1}}) {
            if (piece == 1 && c.request.size() > 100'000) continue;  // the large ones once
            const Outcome outcome = read_request(c.request, piece);
            EXPECT_EQ(outcome.refusal, c.refusal) << "pieces of " << piece;
            EXPECT_EQ(outcome.step, c.refusal == 0 ? Step::BodyReady : Step::Refused);
            EXPECT_EQ(outcome.body, c.body);
        }
    }
}

TEST(DevBridgeHttpRequestTest, HandsOverTheHeadWithNamesInLowerCaseAndValuesTrimmed) {
    HttpRequestReader reader;
    ASSERT_EQ(reader.take(
                  "POST /plugin-cli?x HTTP/1.1\r\nHost:\t127.0.0.1:1 \r\n"
                  "X-Velmot-Plugin-Cli-Token:  abc\r\nX-Empty:\r\nx-velmot-plugin-cli-token: d\r\n"
                  "\r\nbody"),
              Step::HeadReady);
    const HttpHead& head = reader.head();
    EXPECT_EQ(head.method, "POST");
    EXPECT_EQ(head.target, "/plugin-cli?x");
    EXPECT_EQ(head.value("host"), "127.0.0.1:1");
    EXPECT_EQ(head.value("x-empty"), "");
    EXPECT_EQ(head.value("x-velmot-plugin-cli-token"), "abc");
    EXPECT_EQ(head.count("x-velmot-plugin-cli-token"), 2u);
    EXPECT_EQ(head.value("content-length"), std::nullopt);
    // The bytes after the head wait for the body to be read.
    EXPECT_EQ(reader.read_body(), Step::BodyReady);
    EXPECT_EQ(reader.body(), "");
}

}  // namespace
}  // namespace velmot::devbridge
