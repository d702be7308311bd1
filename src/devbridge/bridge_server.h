// The bridge's HTTP side: it listens on 127.0.0.1, refuses requests without
// the access token (401) and bodies that are not an invocation request
// (400), answers each invocation with a 200 response whose body is the
// command's frames, and logs one line per request. Requests are handled
// concurrently, a bounded number at once.
//
// The server borrows everything in its configuration for its whole life.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "devbridge/command_runner.h"
#include "devbridge/request_log.h"

namespace velmot::devbridge {

struct BridgeConfig {
    std::string commands_dir;
    std::string token;
    const RequestLog& log;
    CommandContext commands;
};

class BridgeServer {
  public:
    explicit BridgeServer(const BridgeConfig& config);
    ~BridgeServer();
    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    // Binds a fresh port on 127.0.0.1 and starts listening; the port, or
    // nullopt when no port could be had.
    std::optional<std::uint16_t> bind();
    // Serves on a thread of its own until `stop`; returns once it accepts.
    void start();
    // Stops accepting, lets the requests already accepted finish, and joins
    // the serving thread. Commands still running are ended by the registry,
    // not here.
    void stop();

    // "http://127.0.0.1:PORT/plugin-cli" for the bound port.
    std::string endpoint() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmot::devbridge
