#include "launcher/endpoint.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace velmot {
namespace {

TEST(ParseEndpoint, AcceptsLoopbackPortAndPath) {
    struct Case {
        std::string text;
        std::string path;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/bridge", "/bridge", 8080},
        {"http://127.0.0.1:8080//", "//", 8080},
        {"http://127.0.0.1:8080/a/b?c=d#e", "/a/b?c=d#e", 8080},
        {"http://127.0.0.1:8080/x:y", "/x:y", 8080},
        {"http://127.0.0.1:8080/bridge ", "/bridge ", 8080},
        {"http://127.0.0.1:1/p", "/p", 1},
        {"http://127.0.0.1:8080/sp ace%20\t\x01\xc3\xa9", "/sp ace%20\t\x01\xc3\xa9", 8080},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<Endpoint> e = parse_endpoint(c.text);
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->host, "127.0.0.1");
        EXPECT_EQ(e->path, c.path);
        EXPECT_EQ(e->port, c.port);
    }
}

TEST(ParseEndpoint, PortIsDecimalWithOptionalPlusAndLeadingZeros) {
    const std::pair<std::string, std::uint16_t> accepted[] = {
        {"+8080", 8080},
        {"008080", 8080},
        {"65535", 65535},
        {"+08080", 8080},
        {"0000000000000000000001", 1},
    };
    for (const auto& [port, value] : accepted) {
        SCOPED_TRACE(port);
        const auto e = parse_endpoint("http://127.0.0.1:" + port + "/p");
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->port, value);
    }
    for (std::string port : {"65536", "0", "00000", "-1", "+", "-", "++80", " 80", "80 ", "",
                             "8o80", "99999999999999999999999", "+-1", "0x50"}) {
        SCOPED_TRACE(port);
        EXPECT_FALSE(parse_endpoint("http://127.0.0.1:" + port + "/p").has_value());
    }
}

TEST(ParseEndpoint, RefusesEveryOtherShape) {
    for (const char* text : {
             "",
             "http://",
             "http://127.0.0.1:8080/",
             "http://127.0.0.1:8080",
             "http://127.0.0.1/bridge",
             "http://localhost:8080/bridge",
             "http://[::1]:8080/bridge",
             "http://user@127.0.0.1:8080/bridge",
             "http://127.0.0.1:80:90/bridge",
             "http://127.0.0.2:8080/bridge",
             "http://127.000.0.1:8080/bridge",
             "https://127.0.0.1:8080/bridge",
             "HTTP://127.0.0.1:8080/bridge",
             " http://127.0.0.1:8080/bridge",
             "http:/127.0.0.1:8080/bridge",
         }) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parse_endpoint(text).has_value());
    }
}

// The path is written verbatim into the request line, where a line break
// would end the line and let the variable smuggle in headers or a request.
TEST(ParseEndpoint, RefusesLineBreaksInThePath) {
    for (const char* text : {
             "http://127.0.0.1:8080/a\r\nX-Evil: 1",
             "http://127.0.0.1:8080/a\n",
             "http://127.0.0.1:8080/\r",
             "http://127.0.0.1:8080/a b HTTP/1.1\r\nHost: x\r\n\r\nPOST /",
         }) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parse_endpoint(text).has_value());
    }
}

class EnvironmentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv(kEndpointVariable);
        ::unsetenv(kTokenVariable);
    }
    void TearDown() override { SetUp(); }
    static void set(const char* name, const std::string& value) {
        ASSERT_EQ(::setenv(name, value.c_str(), 1), 0);
    }
};

TEST_F(EnvironmentTest, EndpointMustBeSetValidUtf8AndWellFormed) {
    EXPECT_FALSE(read_endpoint().has_value());
    set(kEndpointVariable, "");
    EXPECT_FALSE(read_endpoint().has_value());
    set(kEndpointVariable, "http://127.0.0.1:8080/\xff");
    EXPECT_FALSE(read_endpoint().has_value());
    set(kEndpointVariable, "http://127.0.0.1:8080/ok");
    ASSERT_TRUE(read_endpoint().has_value());
    EXPECT_EQ(read_endpoint()->path, "/ok");
}

TEST_F(EnvironmentTest, TokenIsTakenVerbatimUnlessEmptyOrBroken) {
    EXPECT_FALSE(read_token().has_value());
    for (std::string token : {"x", " spaced token\t", "\x01\x7f", "\xc3\xa9t\xc3\xa9"}) {
        set(kTokenVariable, token);
        ASSERT_TRUE(read_token().has_value());
        EXPECT_EQ(*read_token(), token);
    }
    for (std::string token : {"", "a\rb", "a\nb", "tok\n", "tok\r", "\xc3", "\xed\xa0\x80"}) {
        set(kTokenVariable, token);
        EXPECT_FALSE(read_token().has_value()) << token;
    }
}

}  // namespace
}  // namespace velmot
