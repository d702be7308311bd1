// Sending finished replies, on a thread of its own: every reply whose
// command has ended is sent from here, all at once and none blocking
// another, so that a client that stops reading (a launcher whose output
// goes to a paused pager, a stopped process) holds no worker and delays no
// other reply.
//
// Every reply has a whole-life deadline: kReplyStallMs from its start, plus
// the time its bytes sent so far take at kMinReplyBytesPerSecond. A client
// that reads at least that fast is never cut off; one below that rate is
// dropped once the deadline passes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/unique_fd.h"

namespace velmot::devbridge {

using Clock = std::chrono::steady_clock;

// When a reply that started at `started` and has had `sent` bytes taken by
// its client must be over.
Clock::time_point reply_deadline(Clock::time_point started, std::size_t sent);

// Whether the client has closed its side or reset the connection. The
// launcher never half-closes, so either means that nobody reads the answer.
bool peer_gone(int socket);

// The bytes of one reply, produced piece by piece as they are sent.
class ReplyBytes {
  public:
    virtual ~ReplyBytes() = default;
    // The next bytes to send, valid until the next call; empty at the end.
    virtual std::string_view next() = 0;
};

// A reply held whole, such as a refusal.
class WholeReply final : public ReplyBytes {
  public:
    explicit WholeReply(std::string bytes) : bytes_(std::move(bytes)) {}
    std::string_view next() override {
        return std::exchange(done_, true) ? std::string_view() : std::string_view(bytes_);
    }

  private:
    std::string bytes_;
    bool done_ = false;
};

class ReplySender {
  public:
    // Called on the sender's thread once the reply has gone out whole
    // (true), or was dropped (false); its connection is closed by then.
    using Done = std::function<void(bool delivered)>;

    ReplySender();
    ~ReplySender();
    ReplySender(const ReplySender&) = delete;
    ReplySender& operator=(const ReplySender&) = delete;

    // `socket` is non-blocking. Thread-safe.
    void send(UniqueFd socket, std::unique_ptr<ReplyBytes> bytes, Done done);

    // Sends what it can until `deadline`, drops what is left then, and ends
    // its thread. Nothing may be sent afterwards.
    void stop(Clock::time_point deadline);

  private:
    struct Outgoing;
    void loop();
    void wake();

    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Outgoing>> arriving_;
    bool stopping_ = false;
    Clock::time_point stop_deadline_{};
    std::thread thread_;
};

}  // namespace velmot::devbridge
