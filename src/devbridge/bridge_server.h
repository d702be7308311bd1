// The bridge's HTTP side: it listens on 127.0.0.1, reads requests on one
// thread (request_intake.h), refuses what is no invocation for it, and
// answers each invocation on a worker with a 200 response whose body is
// the command's frames. A bounded number of commands run at once; one log
// line per request.
//
// The server borrows everything in its configuration for its whole life.
#pragma once

#include <signal.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "devbridge/process_registry.h"
#include "devbridge/request_log.h"

namespace velmot::devbridge {

struct BridgeConfig {
    std::string commands_dir;
    std::string token;
    const RequestLog& log;
    ProcessRegistry& registry;
    // The signal mask commands start with.
    const sigset_t& child_mask;
    // Send each reply's frames as the command produces them.
    bool stream = false;
};

class BridgeServer {
  public:
    explicit BridgeServer(const BridgeConfig& config);
    ~BridgeServer();
    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    // Listens on a fresh port of 127.0.0.1; the port, or nullopt when no
    // port could be had.
    std::optional<std::uint16_t> bind();
    // Serves on threads of its own until `stop`.
    void start();
    // Stops reading requests, ends the running commands (SIGTERM, then
    // SIGKILL after a grace), answers their launchers and those still
    // waiting for a worker (the bridge is stopping), and joins every thread.
    void stop();

    // "http://127.0.0.1:PORT/plugin-cli" for the bound port.
    std::string endpoint() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmot::devbridge
