// The connection's time limits, end to end: a refused connect fails at once,
// a connect that cannot complete gives up after 3 seconds, and a request the
// bridge never reads fails once a send has waited 10 seconds. Elapsed times
// are measured to check the limits; nothing here sleeps.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "support/bridge_frames.h"
#include "support/launcher.h"
#include "support/scripted_bridge.h"

namespace velmot::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

std::uint16_t port_of(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
    return ntohs(address.sin_port);
}

std::string endpoint_for(std::uint16_t port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/bridge";
}

struct TimedRun {
    ChildResult result;
    milliseconds elapsed;
};

TimedRun timed_run(const ChildPlan& plan) {
    const Clock::time_point start = Clock::now();
    ChildResult result = run_child(plan);
    return {std::move(result), std::chrono::duration_cast<milliseconds>(Clock::now() - start)};
}

void expect_transport_failure(const ChildResult& run) {
    EXPECT_EQ(run.exit_code(), 70);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kTransportFailureLine);
}

TEST(Connection, RefusedConnectFailsAtOnce) {
    std::uint16_t port = 0;
    {
        const UniqueFd bound{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
        const sockaddr_in address = loopback(0);
        ASSERT_EQ(::bind(bound.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  0);
        port = port_of(bound.get());
    }
    const TimedRun run = timed_run(launcher_plan(endpoint_for(port), {"velmot"}));
    expect_transport_failure(run.result);
    EXPECT_LT(run.elapsed, milliseconds(2'000));
}

// A listener with a backlog of 0 whose queue is full: further handshakes are
// dropped, so a connect to it can never complete. Loopback handshakes finish
// inside the connect call, so a client that is not writable at once is one
// the queue refused.
class FullListener {
  public:
    FullListener() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in address = loopback(0);
        EXPECT_EQ(
            ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
            0);
        EXPECT_EQ(::listen(listener_.get(), 0), 0);
        port_ = port_of(listener_.get());
        const sockaddr_in target = loopback(port_);
        for (int i = 0; i < 16; ++i) {
            UniqueFd client{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
            (void)::connect(client.get(), reinterpret_cast<const sockaddr*>(&target),
                            sizeof target);
            pollfd watched{client.get(), POLLOUT, 0};
            const bool completed = ::poll(&watched, 1, 0) == 1;
            clients_.push_back(std::move(client));
            if (!completed) return;
        }
        ADD_FAILURE() << "the listener's queue never filled";
    }
    std::uint16_t port() const { return port_; }

  private:
    UniqueFd listener_;
    std::uint16_t port_ = 0;
    std::vector<UniqueFd> clients_;
};

TEST(Connection, ConnectThatCannotCompleteGivesUpAfterThreeSeconds) {
    const FullListener listener;
    const TimedRun run = timed_run(launcher_plan(endpoint_for(listener.port()), {"velmot"}));
    expect_transport_failure(run.result);
    EXPECT_GE(run.elapsed, milliseconds(2'900));
    EXPECT_LT(run.elapsed, milliseconds(10'000));
}

// A bridge that never reads, with the smallest receive buffer and segment
// size, so that the launcher's send buffer stays small as well: about 1.5 MiB
// of request (64 arguments of 4096 control characters, each escaped to six
// bytes) cannot all be taken. Each single send may wait 10 seconds: the
// first takes what fits and returns short after its wait, the next fails.
TEST(Connection, RequestTheBridgeNeverReadsFailsAfterTheSendLimit) {
    std::vector<std::string> argv{"velmot"};
    for (int i = 0; i < 64; ++i)
        argv.push_back(std::string(4096, '\x01'));
    BridgeOptions options;
    options.read_request = false;
    options.receive_buffer_bytes = 1024;
    options.max_segment_bytes = 88;
    ScriptedBridge bridge({keep_open()}, options);
    ChildPlan plan = launcher_plan(bridge.endpoint(), argv);
    plan.guard = std::chrono::seconds(90);
    const TimedRun run = timed_run(plan);
    expect_transport_failure(run.result);
    EXPECT_GE(run.elapsed, milliseconds(9'900));
    EXPECT_LT(run.elapsed, milliseconds(45'000));
}

}  // namespace
}  // namespace velmot::testing
