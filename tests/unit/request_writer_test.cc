// The request body's exact JSON text, and the request as it leaves on a
// socket: head and body in order, whole even when the socket takes it in
// many short sends, and a failure, not a signal, when the peer has gone.

#include "bridge/request_writer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"

namespace velmot {
namespace {

struct BodyCase {
    const char* name;
    std::optional<std::string_view> plugin_id;
    std::vector<std::string_view> arguments;
    std::string_view body;
};

class RequestBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(RequestBody, IsWrittenByteForByte) {
    const BodyCase& c = GetParam();
    EXPECT_EQ(build_request_body(c.plugin_id, c.arguments), c.body);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestBody,
    ::testing::Values(
        BodyCase{"Core",
                 std::nullopt,
                 {},
                 R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[]})"},
        BodyCase{"Plugin",
                 "notes",
                 {"list", "--all"},
                 R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"notes",)"
                 R"("argv":["list","--all"]})"},
        BodyCase{"EmptyArguments",
                 std::nullopt,
                 {"", ""},
                 R"({"protocol_version":1,"kind":"core_cli_invoke","argv":["",""]})"},
        BodyCase{"NamedEscapes",
                 std::nullopt,
                 {"\t\"\\", "\b\f\n\r"},
                 R"({"protocol_version":1,"kind":"core_cli_invoke","argv":["\t\"\\","\b\f\n\r"]})"},
        BodyCase{"NumericEscapes",
                 std::nullopt,
                 {"\0\x01\x0b\x0e\x1b\x1f"sv},
                 R"({"protocol_version":1,"kind":"core_cli_invoke",)"
                 R"("argv":["\u0000\u0001\u000b\u000e\u001b\u001f"]})"},
        BodyCase{"CopiedUnchanged",
                 std::nullopt,
                 {" /~\x7f\xc3\xa9\xf0\x9f\x98\x80<>'"},
                 "{\"protocol_version\":1,\"kind\":\"core_cli_invoke\","
                 "\"argv\":[\" /~\x7f\xc3\xa9\xf0\x9f\x98\x80<>'\"]}"},
        BodyCase{"EscapesBetweenRuns",
                 std::nullopt,
                 {"ab\"cd\\ef\ngh"},
                 R"({"protocol_version":1,"kind":"core_cli_invoke","argv":["ab\"cd\\ef\ngh"]})"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SocketPair {
    UniqueFd ours;
    UniqueFd theirs;
};

SocketPair socket_pair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::string read_to_end(int fd) {
    std::string bytes;
    char block[65536];
    for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) {
        bytes.append(block, static_cast<std::size_t>(n));
    }
    return bytes;
}

const Endpoint kEndpoint{"127.0.0.1", "/a b?c#d%", 8080};

// A body far larger than the socket's buffer goes out in many partial sends;
// the reader must still see head and body whole and in order.
TEST(SendRequest, WritesHeadThenBodyAcrossPartialSends) {
    SocketPair pair = socket_pair();
    std::string body(3 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < body.size(); i += 4093)
        body[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] { received = read_to_end(pair.theirs.get()); });
    const bool sent = send_request(pair.ours.get(), kEndpoint, " tok en ", body);
    pair.ours.reset();
    reader.join();
    EXPECT_TRUE(sent);
    const std::string head =
        "POST /a b?c#d% HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nContent-Type: application/json\r\n"
        "X-Velmot-Plugin-Cli-Token:  tok en \r\nContent-Length: 3145728\r\n"
        "Connection: close\r\n\r\n";
    ASSERT_EQ(received.size(), head.size() + body.size());
    EXPECT_EQ(received.substr(0, head.size()), head);
    EXPECT_TRUE(received.substr(head.size()) == body);
}

// The test runner keeps SIGPIPE at its default, so a send that raised it
// would end the whole run.
TEST(SendRequest, PeerGoneIsAFailureNotASignal) {
    SocketPair pair = socket_pair();
    pair.theirs.reset();
    EXPECT_FALSE(send_request(pair.ours.get(), kEndpoint, "t", "{}"));
}

}  // namespace
}  // namespace velmot
