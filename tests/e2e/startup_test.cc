// The launcher as a process before it reaches the bridge: which names and
// environments it refuses (exactly one transport-failure line, nothing on
// standard output, status 70, no connection made), which names it accepts
// under real links, and how it behaves with its standard streams closed or
// broken at start.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"
#include "support/temp_dir.h"

namespace velmot::testing {
namespace {

struct RefusedRun {
    const char* name;
    std::vector<std::string> env;  // with BRIDGE standing for the live endpoint
    std::vector<std::string> argv;
};

const std::string kEndpointVar = "VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=";
const std::string kTokenVar = "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=";

class RefusedBeforeConnecting : public ::testing::TestWithParam<RefusedRun> {};

TEST_P(RefusedBeforeConnecting, PrintsTheLineOnceAndConnectsToNothing) {
    ScriptedBridge bridge({send_bytes(ok_response(terminal_frame(0)))});
    ChildPlan plan;
    plan.argv = GetParam().argv;
    for (std::string entry : GetParam().env) {
        if (const auto at = entry.find("BRIDGE"); at != std::string::npos) {
            entry.replace(at, 6, bridge.endpoint());
        }
        plan.env.push_back(entry);
    }
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 70);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kTransportFailureLine);
    EXPECT_EQ(bridge.request(), std::nullopt);
}

std::vector<std::string> many(std::size_t n) {
    std::vector<std::string> argv{"velmot"};
    argv.resize(n + 1, "x");
    return argv;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedBeforeConnecting,
    ::testing::Values(
        RefusedRun{"EndpointUnset", {kTokenVar + "t"}, {"velmot"}},
        RefusedRun{"EndpointEmpty", {kEndpointVar, kTokenVar + "t"}, {"velmot"}},
        RefusedRun{"EndpointNotUtf8", {kEndpointVar + "BRIDGE\xff", kTokenVar + "t"}, {"velmot"}},
        RefusedRun{"EndpointWithLineBreak",
                   {kEndpointVar + "BRIDGE\r\nX-Injected: 1", kTokenVar + "t"},
                   {"velmot"}},
        RefusedRun{"TokenUnset", {kEndpointVar + "BRIDGE"}, {"velmot"}},
        RefusedRun{"TokenEmpty", {kEndpointVar + "BRIDGE", kTokenVar}, {"velmot"}},
        RefusedRun{
            "TokenWithCarriageReturn", {kEndpointVar + "BRIDGE", kTokenVar + "a\rb"}, {"velmot"}},
        RefusedRun{"TokenNotUtf8", {kEndpointVar + "BRIDGE", kTokenVar + "\xc3"}, {"velmot"}},
        RefusedRun{"OwnExecutableName",
                   {kEndpointVar + "BRIDGE", kTokenVar + "t"},
                   {"/usr/bin/velmot-plugin-cli-client"}},
        RefusedRun{"UpperCaseName", {kEndpointVar + "BRIDGE", kTokenVar + "t"}, {"Velmot"}},
        RefusedRun{"NameNotUtf8", {kEndpointVar + "BRIDGE", kTokenVar + "t"}, {"velmot-\xff"}},
        RefusedRun{"DotDotName", {kEndpointVar + "BRIDGE", kTokenVar + "t"}, {"bin/.."}},
        RefusedRun{"NoArgumentVector", {kEndpointVar + "BRIDGE", kTokenVar + "t"}, {}},
        RefusedRun{"SixtyFiveArguments", {kEndpointVar + "BRIDGE", kTokenVar + "t"}, many(65)},
        RefusedRun{"ArgumentNotUtf8",
                   {kEndpointVar + "BRIDGE", kTokenVar + "t"},
                   {"velmot", "ok", "\xed\xa0\x80"}},
        RefusedRun{"ArgumentTooLong",
                   {kEndpointVar + "BRIDGE", kTokenVar + "t"},
                   {"velmot", std::string(4097, 'a')}},
        RefusedRun{
            "EverythingWrongAtOnce", {kEndpointVar + "nope", kTokenVar}, {"Velmot", "\xff"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The identity comes from the name the executable was started under, through
// a real link, whatever directory holds it.
TEST(InvocationNames, LinksDecideCoreOrPlugin) {
    const TempDir dir;
    const struct {
        std::string link;
        std::string argv0_suffix;
        std::string body_identity;
    } cases[] = {
        {"velmot", "", R"("kind":"core_cli_invoke")"},
        {"velmot-notes", "", R"("kind":"plugin_cli_invoke","plugin_id":"notes")"},
        {"velmot-a.b_c-d", "/", R"("kind":"plugin_cli_invoke","plugin_id":"a.b_c-d")"},
        {"velmot-plugin-cli", "/.", R"("kind":"plugin_cli_invoke","plugin_id":"plugin-cli")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const std::string path = dir.link(c.link, VELMOT_LAUNCHER_PATH);
        ScriptedBridge bridge({send_bytes(ok_response(terminal_frame(0)))});
        ChildPlan plan = launcher_plan(bridge.endpoint(), {path + c.argv0_suffix, "arg"});
        plan.executable = path;
        const ChildResult run = run_child(plan);
        EXPECT_EQ(run.exit_code(), 0);
        EXPECT_EQ(run.err, "");
        const std::optional<std::string> request = bridge.request();
        ASSERT_TRUE(request.has_value());
        EXPECT_TRUE(request->ends_with(R"({"protocol_version":1,)" + c.body_identity +
                                       R"(,"argv":["arg"]})"))
            << *request;
    }
}

TEST(InvocationNames, OwnNameIsRefusedThroughALinkToo) {
    const TempDir dir;
    const std::string path = dir.link("velmot-plugin-cli-client", VELMOT_LAUNCHER_PATH);
    ScriptedBridge bridge({send_bytes(ok_response(terminal_frame(0)))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {path});
    plan.executable = path;
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 70);
    EXPECT_EQ(run.err, kTransportFailureLine);
    EXPECT_EQ(bridge.request(), std::nullopt);
}

TEST(StandardStreams, ClosedStandardErrorStillEndsWith70) {
    ChildPlan plan = launcher_plan("http://127.0.0.1:1/", {"velmot"});
    plan.err = StreamSetup::closed();
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 70);
    EXPECT_EQ(run.out, "");
}

TEST(StandardStreams, ClosedStandardOutputDiscardsOutputAndKeepsTheStatus) {
    ScriptedBridge bridge({send_bytes(
        ok_response(stdout_frame("lost\n") + stdout_frame("tail") + terminal_frame(3)))});
    ChildPlan plan = launcher_plan(bridge.endpoint(), {"velmot"});
    plan.out = StreamSetup::closed();
    const ChildResult run = run_child(plan);
    EXPECT_EQ(run.exit_code(), 3);
    EXPECT_EQ(run.err, "");
}

// A run that cannot even report its failure must not look like an ordinary
// failure: the status is 101, and the launcher is not killed by SIGPIPE.
TEST(StandardStreams, UnwritableStandardErrorEndsWith101) {
    int broken[2];
    ASSERT_EQ(::pipe(broken), 0);
    ::close(broken[0]);
    ChildPlan plan = launcher_plan("http://127.0.0.1:1/", {"velmot"}, "");
    plan.err = StreamSetup::descriptor(broken[1]);
    const ChildResult run = run_child(plan);
    ::close(broken[1]);
    EXPECT_TRUE(run.exited());
    EXPECT_EQ(run.exit_code(), 101);
}

}  // namespace
}  // namespace velmot::testing
