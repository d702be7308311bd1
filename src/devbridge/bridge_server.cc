#include "devbridge/bridge_server.h"

#include <sys/socket.h>

#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#include "devbridge/devbridge_limits.h"
#include "devbridge/frame_reply.h"
#include "devbridge/http_reply.h"
#include "devbridge/invocation_handler.h"
#include "devbridge/invocation_request.h"
#include "devbridge/loopback_listener.h"
#include "devbridge/reply_sender.h"
#include "devbridge/request_intake.h"
#include "devbridge/spawn.h"
#include "devbridge/worker_pool.h"

namespace velmot::devbridge {

namespace {

std::int64_t milliseconds_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

struct BridgeServer::Impl {
    const BridgeConfig& config;
    std::optional<Listener> listener;
    std::vector<std::string> environment;
    std::unique_ptr<RequestIntake> intake;
    ReplySender sender;
    WorkerPool workers{kMaxConcurrentRequests};
    // Connections on which streamed replies are being sent by workers, so
    // that a stop can end their sends.
    std::mutex streaming_mutex;
    std::set<int> streaming;
    bool stopped = false;

    explicit Impl(const BridgeConfig& c) : config(c) {}

    std::string endpoint() const {
        return "http://127.0.0.1:" + std::to_string(listener ? listener->port : 0) +
               std::string(kEndpointPath);
    }

    // The connection is closed and its slot given back.
    void release(Delivery& request) {
        request.socket.reset();
        intake->released();
    }

    // Hands the reply over to the sender, which logs it once it is over.
    void send(Delivery& request, std::unique_ptr<ReplyBytes> bytes, std::string invocation,
              int http_status, std::optional<int> exit_code, std::size_t body_bytes) {
        sender.send(std::move(request.socket), std::move(bytes),
                    [this, invocation = std::move(invocation), http_status, exit_code, body_bytes,
                     accepted = request.accepted](bool delivered) {
                        if (delivered) {
                            config.log.record(invocation, http_status, exit_code, body_bytes,
                                              milliseconds_since(accepted));
                        } else {
                            config.log.abandoned(invocation, milliseconds_since(accepted));
                        }
                        intake->released();
                    });
    }

    void handle(Delivery& request) {
        std::string why;
        const auto call = parse_invocation_request(request.body, why);
        request.body = std::string();
        if (!call) {
            const std::size_t bytes = why.size() + 1;
            return send(request, std::make_unique<WholeReply>(refusal_reply(400, why)), "-", 400,
                        std::nullopt, bytes);
        }
        const std::string invocation = call->plugin_id.value_or(kCoreInvocationName);
        // A request that waited for its turn is not started once its client
        // has gone: nobody would see what the command did.
        if (peer_gone(request.socket.get())) {
            config.log.abandoned(invocation, milliseconds_since(request.accepted));
            return release(request);
        }
        const CommandContext context{config.registry, config.child_mask, environment};
        // Once the bridge stops, no command starts: the short answer goes
        // out through the sender like any whole reply, never holding up the
        // stop on a client that does not read.
        const bool stream = config.stream && !config.registry.closing();
        auto reply = std::make_unique<FrameReply>(request.socket.get(), stream);
        if (stream) {
            std::lock_guard lock(streaming_mutex);
            streaming.insert(request.socket.get());
        }
        const auto answer =
            answer_invocation(*call, config.commands_dir, context, request.socket.get(), *reply);
        if (stream) {
            const bool sent = !answer.abandoned && reply->finish_streamed();
            {
                std::lock_guard lock(streaming_mutex);
                streaming.erase(request.socket.get());
            }
            if (sent) {
                config.log.record(invocation, 200, answer.exit_code, reply->declared_bytes(),
                                  milliseconds_since(request.accepted));
            } else {
                config.log.abandoned(invocation, milliseconds_since(request.accepted));
            }
            return release(request);
        }
        if (answer.abandoned) {
            config.log.abandoned(invocation, milliseconds_since(request.accepted));
            return release(request);
        }
        const std::size_t bytes = reply->declared_bytes();
        send(request, std::move(reply), invocation, 200, answer.exit_code, bytes);
    }

    void deliver(Delivery request) {
        auto held = std::make_shared<Delivery>(std::move(request));
        workers.submit([this, held] { handle(*held); });
    }

    // Streamed replies still being sent go nowhere once the stop's grace is
    // over: their sends end at once.
    void end_streamed_sends() {
        std::lock_guard lock(streaming_mutex);
        for (const int socket : streaming)
            ::shutdown(socket, SHUT_RDWR);
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

// Every step is bounded, so that the bridge ends within kStopDeadlineMs
// whatever its clients and commands do: the listener closes first, queued
// requests are answered at once, running commands get their grace, and
// replies still going out get kStopFlushMs, or what is left of the
// deadline if that is less.
void BridgeServer::stop() {
    if (impl_->stopped) return;
    impl_->stopped = true;
    const auto started = Clock::now();
    if (impl_->intake) impl_->intake->stop();
    impl_->config.registry.close();
    impl_->workers.run_waiting_here();
    impl_->config.registry.await_end(kShutdownGraceMs);
    impl_->end_streamed_sends();
    impl_->workers.stop();
    const auto last = started + std::chrono::milliseconds(kStopDeadlineMs);
    const auto flush = Clock::now() + std::chrono::milliseconds(kStopFlushMs);
    impl_->sender.stop(flush < last ? flush : last);
}

std::string BridgeServer::endpoint() const {
    return impl_->endpoint();
}

}  // namespace velmot::devbridge
