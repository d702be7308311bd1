// The bridge's receiving side, on a thread of its own: it accepts
// connections and reads every request that is arriving at once, without
// blocking on any, each within one deadline for its whole head and body.
// A request whose head is refused (see admission.h) is answered without
// its body being read; a complete, admitted request is handed over with
// its connection. No request holds a command worker while it arrives, so
// slow clients cannot keep others from being served.
//
// Refusals are logged, at most one line a second; the others are counted
// in the next line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"
#include "devbridge/admission.h"
#include "devbridge/request_log.h"

namespace velmot::devbridge {

struct Delivery {
    UniqueFd socket;  // non-blocking
    std::string body;
    std::chrono::steady_clock::time_point accepted;
};

class RequestIntake {
  public:
    using Deliver = std::function<void(Delivery)>;

    // Takes `listener` (listening, non-blocking). `own_host` is the Host
    // value the bridge answers to; `token`, `log` and `deliver` are borrowed.
    RequestIntake(UniqueFd listener, std::string own_host, const std::string& token,
                  const RequestLog& log, Deliver deliver);
    ~RequestIntake();
    RequestIntake(const RequestIntake&) = delete;
    RequestIntake& operator=(const RequestIntake&) = delete;

    void start();
    // Stops accepting and reading and closes the listening socket; requests
    // still arriving are dropped.
    void stop();
    // A delivered connection has been closed: room for one more.
    void released();

  private:
    struct Incoming;
    void loop();
    void read_from(Incoming& incoming);
    bool evict_oldest_idle(std::vector<std::unique_ptr<Incoming>>& incoming);
    void refuse(Incoming& incoming, const Refusal& refusal, bool linger);
    void wake();

    UniqueFd listener_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::string own_host_;
    const std::string& token_;
    const RequestLog& log_;
    Deliver deliver_;
    std::atomic<std::size_t> open_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::chrono::steady_clock::time_point last_refusal_logged_{};
    std::size_t unlogged_refusals_ = 0;
};

}  // namespace velmot::devbridge
