#include "support/devbridge_session.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/descriptor_io.h"
#include "common/unique_fd.h"

namespace velmot::testing {

namespace {

std::string path_variable() {
    const char* path = std::getenv("PATH");
    return std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
}

// The port of "http://127.0.0.1:PORT/...", or 0.
std::uint16_t endpoint_port(std::string_view endpoint) {
    constexpr std::string_view kPrefix = "http://127.0.0.1:";
    if (endpoint.substr(0, kPrefix.size()) != kPrefix) return 0;
    unsigned port = 0;
    for (std::size_t i = kPrefix.size(); i < endpoint.size() && endpoint[i] != '/'; ++i) {
        if (endpoint[i] < '0' || endpoint[i] > '9' || port > 65535) return 0;
        port = port * 10 + static_cast<unsigned>(endpoint[i] - '0');
    }
    return port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

// Undoes single quoting: 'abc'\''def' is abc'def.
std::string unquote(std::string_view quoted) {
    std::string text;
    bool inside = false;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\'') {
            inside = !inside;
        } else if (!inside && quoted[i] == '\\' && i + 1 < quoted.size()) {
            text.push_back(quoted[++i]);
        } else {
            text.push_back(quoted[i]);
        }
    }
    return text;
}

}  // namespace

std::string exported_value(std::string_view lines, std::string_view name) {
    const std::string head = "export " + std::string(name) + "=";
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string_view::npos) end = lines.size();
        const std::string_view line = lines.substr(start, end - start);
        if (line.substr(0, head.size()) == head) return unquote(line.substr(head.size()));
        start = end + 1;
    }
    return {};
}

ServedBridge::ServedBridge(const std::string& bridge_path, const std::string& commands_dir,
                           const std::string& log_path, const std::vector<std::string>& options,
                           const std::vector<std::string>& env) {
    // The bridge serves from a process of its own that leaves the one
    // started here; as the subreaper, this process inherits it and can reap
    // it and see its status.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ChildPlan plan;
    plan.executable = bridge_path;
    plan.argv = {"velmot_devbridge", "--commands", commands_dir, "--log", log_path, "--sh"};
    plan.argv.insert(plan.argv.end(), options.begin(), options.end());
    plan.argv.push_back("--serve");
    plan.env = {path_variable()};
    plan.env.insert(plan.env.end(), env.begin(), env.end());
    plan.err = StreamSetup::closed();
    // The bridge lets go of standard output right after the export lines,
    // and prints them only once it listens; the starting process then ends.
    const ChildResult started = run_child(plan);
    EXPECT_EQ(started.wait_status, 0);
    endpoint_ = exported_value(started.out, "VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT");
    token_ = exported_value(started.out, "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN");
    port_ = endpoint_port(endpoint_);
    for (const char digit : exported_value(started.out, "VELMOT_DEVBRIDGE_PID")) {
        pid_ = digit >= '0' && digit <= '9' && pid_ < 10'000'000 ? pid_ * 10 + (digit - '0') : -1;
    }
    EXPECT_NE(port_, 0) << "export lines: " << started.out;
    EXPECT_FALSE(token_.empty()) << "export lines: " << started.out;
    EXPECT_GT(pid_, 0) << "export lines: " << started.out;
}

ServedBridge::~ServedBridge() {
    if (!stopped_) stop();
}

ChildPlan launcher_plan(const TempDir& dir, const ServedBridge& bridge, const std::string& name,
                        const std::vector<std::string>& args) {
    const std::string link = dir.path() + "/" + name;
    if (::access(link.c_str(), F_OK) != 0) dir.link(name, VELMOT_LAUNCHER_PATH);
    ChildPlan plan;
    plan.executable = link;
    plan.argv = {link};
    plan.argv.insert(plan.argv.end(), args.begin(), args.end());
    plan.env = bridge.launcher_env();
    return plan;
}

std::vector<std::string> ServedBridge::launcher_env() const {
    return {"VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=" + endpoint_,
            "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=" + token_};
}

int ServedBridge::stop() {
    if (stopped_ || pid_ <= 0) return -1;
    stopped_ = true;
    const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    ::kill(pid_, SIGTERM);
    struct pollfd ended = {process.get(), POLLIN, 0};
    if (::poll(&ended, 1, 60'000) != 1) {
        ADD_FAILURE() << "the bridge did not stop";
        ::kill(pid_, SIGKILL);
    }
    int status = -1;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

UniqueFd connect_to(std::uint16_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!socket.valid() ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot connect to port " << port;
        return UniqueFd();
    }
    return socket;
}

std::string http_exchange(std::uint16_t port, std::string_view request) {
    const UniqueFd socket = connect_to(port);
    if (!socket.valid()) return {};
    // A bridge that never answers fails the test instead of hanging it.
    const timeval guard{30, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    EXPECT_TRUE(write_all(socket.get(), request));
    std::string reply;
    char block[4096];
    for (;;) {
        const ssize_t got = ::recv(socket.get(), block, sizeof block, 0);
        if (got > 0) {
            reply.append(block, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            EXPECT_GE(got, 0) << "no answer from port " << port;
            return reply;
        }
    }
}

std::string invocation_post(std::uint16_t port, std::string_view body, std::string_view token) {
    std::string request =
        "POST /plugin-cli HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    if (!token.empty()) request.append("X-Velmot-Plugin-Cli-Token: ").append(token).append("\r\n");
    request.append("Content-Type: application/json\r\nContent-Length: ")
        .append(std::to_string(body.size()))
        .append("\r\nConnection: close\r\n\r\n")
        .append(body);
    return request;
}

}  // namespace velmot::testing
