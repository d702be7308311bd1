#include "devbridge/bridge_server.h"

#include <chrono>
#include <vector>

#include "common/descriptor_io.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/frame_reply.h"
#include "devbridge/http_reply.h"
#include "devbridge/invocation_handler.h"
#include "devbridge/invocation_request.h"
#include "devbridge/loopback_listener.h"
#include "devbridge/request_intake.h"
#include "devbridge/spawn.h"
#include "devbridge/worker_pool.h"

namespace velmot::devbridge {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t milliseconds_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

struct BridgeServer::Impl {
    const BridgeConfig& config;
    std::optional<Listener> listener;
    std::vector<std::string> environment;
    std::unique_ptr<RequestIntake> intake;
    WorkerPool workers{kMaxConcurrentRequests};
    bool stopped = false;

    explicit Impl(const BridgeConfig& c) : config(c) {}

    std::string endpoint() const {
        return "http://127.0.0.1:" + std::to_string(listener ? listener->port : 0) +
               std::string(kEndpointPath);
    }

    void handle(Delivery& request) {
        std::string why;
        const auto call = parse_invocation_request(request.body, why);
        request.body = std::string();
        if (!call) {
            const std::string reply = refusal_reply(400, why);
            (void)write_all(request.socket.get(), reply);
            config.log.record("-", 400, std::nullopt, why.size() + 1,
                              milliseconds_since(request.accepted));
            return;
        }
        const std::string invocation = call->plugin_id.value_or(kCoreCommandName);
        const CommandContext context{config.registry, config.child_mask, environment};
        FrameReply reply(request.socket.get(), config.stream);
        const auto answer =
            answer_invocation(*call, config.commands_dir, context, request.socket.get(), reply);
        if (answer.abandoned || !reply.finish()) {
            config.log.abandoned(invocation, milliseconds_since(request.accepted));
            return;
        }
        config.log.record(invocation, 200, answer.exit_code, reply.declared_bytes(),
                          milliseconds_since(request.accepted));
    }

    void deliver(Delivery request) {
        auto held = std::make_shared<Delivery>(std::move(request));
        workers.submit([this, held] {
            handle(*held);
            held->socket.reset();
            intake->released();
        });
    }
};

BridgeServer::BridgeServer(const BridgeConfig& config) : impl_(std::make_unique<Impl>(config)) {}

BridgeServer::~BridgeServer() {
    stop();
}

std::optional<std::uint16_t> BridgeServer::bind() {
    impl_->listener = listen_on_loopback();
    if (!impl_->listener) return std::nullopt;
    return impl_->listener->port;
}

void BridgeServer::start() {
    impl_->environment = bridge_environment(impl_->endpoint(), impl_->config.token);
    impl_->intake = std::make_unique<RequestIntake>(
        std::move(impl_->listener->socket), "127.0.0.1:" + std::to_string(impl_->listener->port),
        impl_->config.token, impl_->config.log,
        [this](Delivery request) { impl_->deliver(std::move(request)); });
    impl_->intake->start();
}

void BridgeServer::stop() {
    if (impl_->stopped) return;
    impl_->stopped = true;
    if (impl_->intake) impl_->intake->stop();
    impl_->config.registry.close(kShutdownGraceMs);
    impl_->workers.stop();
}

std::string BridgeServer::endpoint() const {
    return impl_->endpoint();
}

}  // namespace velmot::devbridge
