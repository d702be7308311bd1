#include "devbridge/bridge_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <thread>

#include "devbridge/access_token.h"
#include "devbridge/bounded_task_queue.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/invocation_handler.h"
#include "devbridge/invocation_request.h"

namespace velmot::devbridge {

namespace {

constexpr char kTokenHeader[] = "X-Velmot-Plugin-Cli-Token";

using Clock = std::chrono::steady_clock;

// What the log line of the request being handled on this thread needs. A
// worker thread handles one request at a time, from the token check to the
// log line, so the trace can live with the thread.
struct RequestTrace {
    std::optional<Clock::time_point> start;
    std::string invocation = "-";
    std::optional<int> exit_code;
};

thread_local RequestTrace trace;

std::int64_t milliseconds_since(std::optional<Clock::time_point> start) {
    if (!start) return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *start).count();
}

void refuse(httplib::Response& response, int status, const std::string& why) {
    response.status = status;
    response.set_content(why + "\n", "text/plain");
}

}  // namespace

struct BridgeServer::Impl {
    const BridgeConfig& config;
    httplib::Server server;
    std::thread serving;
    std::promise<void> accepting;
    std::uint16_t port = 0;

    explicit Impl(const BridgeConfig& c) : config(c) {}

    httplib::Server::HandlerResponse check_token(const httplib::Request& request,
                                                 httplib::Response& response) {
        trace = RequestTrace{};
        trace.start = Clock::now();
        const bool one_header = request.get_header_value_count(kTokenHeader) == 1;
        if (one_header && token_matches(request.get_header_value(kTokenHeader), config.token)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        refuse(response, 401, "missing or wrong access token");
        return httplib::Server::HandlerResponse::Handled;
    }

    void invoke(const httplib::Request& request, httplib::Response& response) {
        std::string why;
        const auto call = parse_invocation_request(request.body, why);
        if (!call) return refuse(response, 400, why);
        trace.invocation = call->plugin_id.value_or(kCoreCommandName);
        auto answer = answer_invocation(*call, config.commands_dir, config.commands);
        trace.exit_code = answer.exit_code;
        response.status = 200;
        // Moved, not copied: the body may be 12 MiB. The server adds the
        // Content-Length from it.
        response.body = std::move(answer.body);
        response.set_header("Content-Type", "application/x-ndjson");
    }

    void log(const httplib::Response& response) {
        config.log.record(trace.invocation, response.status, trace.exit_code, response.body.size(),
                          milliseconds_since(trace.start));
        trace = RequestTrace{};
    }

    void configure() {
        // The server asks for its queue once it counts as running, just
        // before it accepts: from then on a stop request is not lost.
        server.new_task_queue = [this] {
            auto* queue = new BoundedTaskQueue(kMaxConcurrentRequests, kMaxWaitingConnections);
            accepting.set_value();
            return queue;
        };
        server.set_address_family(AF_INET);
        // The head and the body go out in separate writes; without this the
        // body could wait for the client's delayed acknowledgement.
        server.set_tcp_nodelay(true);
        server.set_keep_alive_max_count(1);
        server.set_read_timeout(kRequestReadTimeoutSeconds);
        server.set_write_timeout(kResponseSendTimeoutSeconds);
        server.set_payload_max_length(kMaxRequestBodyBytes);
        server.set_pre_routing_handler(
            [this](const auto& request, auto& response) { return check_token(request, response); });
        server.Post(std::string(kEndpointPath),
                    [this](const auto& request, auto& response) { invoke(request, response); });
        server.set_logger([this](const auto&, const auto& response) { log(response); });
    }
};

BridgeServer::BridgeServer(const BridgeConfig& config) : impl_(std::make_unique<Impl>(config)) {
    impl_->configure();
}

BridgeServer::~BridgeServer() {
    stop();
}

std::optional<std::uint16_t> BridgeServer::bind() {
    const int port = impl_->server.bind_to_any_port("127.0.0.1");
    if (port <= 0 || port > 65535) return std::nullopt;
    impl_->port = static_cast<std::uint16_t>(port);
    return impl_->port;
}

void BridgeServer::start() {
    auto accepting = impl_->accepting.get_future();
    impl_->serving = std::thread([this] { impl_->server.listen_after_bind(); });
    accepting.wait();
}

void BridgeServer::stop() {
    impl_->server.stop();
    if (impl_->serving.joinable()) impl_->serving.join();
}

std::string BridgeServer::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + std::string(kEndpointPath);
}

}  // namespace velmot::devbridge
