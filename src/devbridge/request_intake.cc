#include "devbridge/request_intake.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <vector>

#include "common/system_calls.h"
#include "devbridge/devbridge_limits.h"
#include "devbridge/http_reply.h"
#include "devbridge/http_request.h"

namespace velmot::devbridge {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRefusalLogInterval = std::chrono::seconds(1);
constexpr std::size_t kReceiveBlockBytes = 16 * 1024;
constexpr std::size_t kAcceptsPerRound = 32;

std::int64_t milliseconds_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A delivered connection stays non-blocking: its reply is sent without
// ever blocking (reply_sender.h). The head and the body may go out in
// separate sends; without TCP_NODELAY the body could wait for the client's
// delayed acknowledgement.
bool prepare_for_worker(int socket) {
    const int on = 1;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

}  // namespace

struct RequestIntake::Incoming {
    UniqueFd socket;
    HttpRequestReader reader;
    Clock::time_point accepted = Clock::now();
    Clock::time_point deadline = accepted + std::chrono::milliseconds(kRequestArrivalMs);
    // Until its first bytes arrive, a connection has a much shorter time.
    bool heard = false;
    // Room for a new connection may be made by closing this one: it has not
    // sent a whole request head yet, or has had its refusal.
    bool evictable() const { return refused || !head_complete; }
    bool head_complete = false;

    Clock::time_point due() const {
        const auto first_byte = accepted + std::chrono::milliseconds(kFirstByteMs);
        return heard || first_byte > deadline ? deadline : first_byte;
    }
    // Answered with a refusal: what else it sends is read and dropped until
    // it closes or its deadline comes, so that closing does not reset the
    // connection before the client has read the answer.
    bool refused = false;
    bool delivered = false;
};

RequestIntake::RequestIntake(UniqueFd listener, std::string own_host, const std::string& token,
                             const RequestLog& log, Deliver deliver)
    : listener_(std::move(listener)),
      own_host_(std::move(own_host)),
      token_(token),
      log_(log),
      deliver_(std::move(deliver)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_read_.reset(fds[0]);
        wake_write_.reset(fds[1]);
    }
}

RequestIntake::~RequestIntake() {
    stop();
}

void RequestIntake::start() {
    thread_ = std::thread([this] { loop(); });
}

void RequestIntake::stop() {
    stopping_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
    // Closed at once, so that launchers connecting from now on are refused
    // instead of waiting in the listen queue for a bridge that has stopped.
    listener_.reset();
}

void RequestIntake::released() {
    --open_;
    wake();
}

void RequestIntake::wake() {
    const char byte = 0;
    (void)!sys::write(wake_write_.get(), &byte, 1);
}

void RequestIntake::refuse(Incoming& incoming, const Refusal& refusal, bool linger) {
    const std::string reply = refusal_reply(refusal.status, refusal.why, refusal.extra_fields);
    // A refusal is small and the connection's send buffer empty: one
    // non-blocking send takes it whole, or the client is not reading.
    (void)!sys::send(incoming.socket.get(), reply.data(), reply.size());
    ::shutdown(incoming.socket.get(), SHUT_WR);
    incoming.refused = true;
    if (!linger) incoming.socket.reset();

    const auto now = Clock::now();
    if (now - last_refusal_logged_ < kRefusalLogInterval) {
        ++unlogged_refusals_;
        return;
    }
    std::string remark;
    if (unlogged_refusals_ > 0) {
        remark = std::to_string(unlogged_refusals_) + " more refused since the last line";
    }
    log_.record("-", refusal.status, std::nullopt, refusal.why.size() + 1,
                milliseconds_since(incoming.accepted), remark);
    last_refusal_logged_ = now;
    unlogged_refusals_ = 0;
}

void RequestIntake::read_from(Incoming& incoming) {
    char block[kReceiveBlockBytes];
    const ssize_t got = sys::recv(incoming.socket.get(), block, sizeof block, 0);
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {
        incoming.socket.reset();
        return;
    }
    incoming.heard = true;
    if (incoming.refused) return;
    auto step = incoming.reader.take(std::string_view(block, static_cast<std::size_t>(got)));
    if (step == HttpRequestReader::Step::HeadReady) {
        incoming.head_complete = true;
        if (const auto refusal = refuse_head(incoming.reader.head(), own_host_, token_)) {
            return refuse(incoming, *refusal, true);
        }
        step = incoming.reader.read_body();
    }
    if (step == HttpRequestReader::Step::Refused) {
        return refuse(incoming, refusal_for_status(incoming.reader.refusal()), true);
    }
    if (step != HttpRequestReader::Step::BodyReady) return;
    if (!prepare_for_worker(incoming.socket.get())) {
        incoming.socket.reset();
        return;
    }
    incoming.delivered = true;
    deliver_({std::move(incoming.socket), std::move(incoming.reader.body()), incoming.accepted});
}

// Connections are kept in the order they were accepted, so the first
// evictable one is the one that has held its slot longest.
bool RequestIntake::evict_oldest_idle(std::vector<std::unique_ptr<Incoming>>& incoming) {
    const auto oldest = std::find_if(incoming.begin(), incoming.end(),
                                     [](const auto& request) { return request->evictable(); });
    if (oldest == incoming.end()) return false;
    incoming.erase(oldest);
    --open_;
    return true;
}

void RequestIntake::loop() {
    std::vector<std::unique_ptr<Incoming>> incoming;
    std::vector<pollfd> fds;
    while (!stopping_) {
        // When every slot is taken, a new connection may still be accepted
        // in place of one that holds its slot idly.
        const bool room = open_ < kMaxOpenConnections ||
                          std::any_of(incoming.begin(), incoming.end(),
                                      [](const auto& request) { return request->evictable(); });
        fds.assign({{wake_read_.get(), POLLIN, 0}, {room ? listener_.get() : -1, POLLIN, 0}});
        int timeout = -1;
        for (const auto& request : incoming) {
            fds.push_back({request->socket.get(), POLLIN, 0});
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(request->due() - Clock::now());
            const int ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
            if (timeout < 0 || ms < timeout) timeout = ms;
        }
        if (sys::poll(fds.data(), fds.size(), timeout) < 0) break;
        if (fds[0].revents != 0) {
            char drained[64];
            while (sys::read(wake_read_.get(), drained, sizeof drained) > 0) {
            }
        }
        for (std::size_t i = 0; i < incoming.size(); ++i) {
            if (fds[i + 2].revents != 0) read_from(*incoming[i]);
        }
        const auto now = Clock::now();
        for (auto& request : incoming) {
            if (!request->socket.valid() || now < request->due()) continue;
            if (!request->refused) refuse(*request, refusal_for_status(408), false);
            request->socket.reset();
        }
        std::erase_if(incoming, [this](const auto& request) {
            if (request->socket.valid()) return false;
            if (!request->delivered) --open_;
            return true;
        });
        // Few enough at a time that a connection just accepted is read at
        // least once before new ones could make it the oldest idle one.
        for (std::size_t accepted = 0; room && fds[1].revents != 0 && accepted < kAcceptsPerRound;
             ++accepted) {
            if (open_ >= kMaxOpenConnections && !evict_oldest_idle(incoming)) break;
            const int socket =
                ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (socket < 0) break;
            incoming.push_back(std::make_unique<Incoming>());
            incoming.back()->socket.reset(socket);
            ++open_;
        }
    }
    for (const auto& request : incoming)
        open_ -= request->delivered ? 0 : 1;
    if (unlogged_refusals_ > 0) {
        log_.note(std::to_string(unlogged_refusals_) + " more requests refused and not logged");
    }
}

}  // namespace velmot::devbridge
