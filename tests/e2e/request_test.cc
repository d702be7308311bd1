// The request the launcher sends, byte for byte, as the bridge receives it:
// the head with the path, Host, token and Content-Length, and the compact
// JSON body for core and plug-in invocations, with every kind of escape.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

std::string expected_request(std::string_view path, std::uint16_t port, std::string_view token,
                             std::string_view body) {
    std::string request = "POST ";
    request += path;
    request += " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port);
    request += "\r\nContent-Type: application/json\r\nX-Velmot-Plugin-Cli-Token: ";
    request += token;
    request += "\r\nContent-Length: " + std::to_string(body.size());
    request += "\r\nConnection: close\r\n\r\n";
    request += body;
    return request;
}

struct RequestCase {
    const char* name;
    std::string path;
    std::string token;
    std::vector<std::string> argv;
    std::string body;
};

class RequestBytes : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestBytes, ReachTheBridgeExactly) {
    const RequestCase& c = GetParam();
    ScriptedBridge bridge({send_bytes(ok_response(terminal_frame(0)))});
    // The port is written with a sign and a leading zero; the Host line must
    // carry the number, not the text.
    const ChildResult run =
        run_child(launcher_plan(bridge.endpoint(c.path, "+0"), c.argv, c.token));
    EXPECT_EQ(run.exit_code(), 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(bridge.request(), expected_request(c.path, bridge.port(), c.token, c.body));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestBytes,
    ::testing::Values(
        RequestCase{"CoreWithoutArguments",
                    "/bridge",
                    "t0ken",
                    {"velmot"},
                    R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[]})"},
        RequestCase{"PluginWithArguments",
                    "/bridge",
                    "t0ken",
                    {"velmot-notes", "list", "--all"},
                    R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"notes",)"
                    R"("argv":["list","--all"]})"},
        RequestCase{"InvokedThroughAPath",
                    "/bridge",
                    "t0ken",
                    {"/opt/tools/velmot-a.b_c-d/", ""},
                    R"({"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"a.b_c-d",)"
                    R"("argv":[""]})"},
        RequestCase{"Escapes",
                    "/bridge",
                    "t0ken",
                    {"velmot", "\t\"\\", "\x1b", "\x7f\xc3\xa9/", "\b\f\n\r\x01\x1f", " x "},
                    "{\"protocol_version\":1,\"kind\":\"core_cli_invoke\",\"argv\":["
                    "\"\\t\\\"\\\\\",\"\\u001b\",\"\x7f\xc3\xa9/\","
                    "\"\\b\\f\\n\\r\\u0001\\u001f\",\" x \"]}"},
        RequestCase{"PathAndTokenVerbatim",
                    "/a b/c?d=%20#e:f",
                    " tok\ten \xe2\x82\xac ",
                    {"velmot"},
                    R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[]})"}),
    [](const auto& info) { return std::string(info.param.name); });

// The largest request the launcher forwards: 64 arguments of 4096 four-byte
// characters, sent whole.
TEST(RequestBytes, LargestArgumentsArriveWhole) {
    const std::string four_bytes = "\xf0\x9f\x98\x80";
    std::string argument;
    for (int i = 0; i < 4096; ++i)
        argument += four_bytes;
    std::vector<std::string> argv{"velmot"};
    std::string body = R"({"protocol_version":1,"kind":"core_cli_invoke","argv":[)";
    for (int i = 0; i < 64; ++i) {
        argv.push_back(argument);
        body += (i > 0 ? ",\"" : "\"") + argument + "\"";
    }
    body += "]}";
    ScriptedBridge bridge({send_bytes(ok_response(terminal_frame(0)))});
    const ChildResult run = run_child(launcher_plan(bridge.endpoint(), argv));
    EXPECT_EQ(run.exit_code(), 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(bridge.request(), expected_request("/bridge", bridge.port(), kTestToken, body));
}

}  // namespace
}  // namespace velmot::testing
