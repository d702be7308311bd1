// The development bridge as a peer for end-to-end tests: a `ServedBridge`
// starts the built bridge in serving mode, reads the endpoint, the token and
// the bridge's process id from the lines it prints, and stops it with
// SIGTERM when asked or when it goes out of scope. `http_exchange` talks to a bridge directly, for
// the requests the launcher would never send.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace velmot::testing {

class ServedBridge {
  public:
    // Serves the commands in `commands_dir`, appending its log to `log_path`,
    // with further `options` and "NAME=value" `env` entries besides PATH, if
    // any.
    ServedBridge(const std::string& bridge_path, const std::string& commands_dir,
                 const std::string& log_path, const std::vector<std::string>& options = {},
                 const std::vector<std::string>& env = {});
    ~ServedBridge();
    ServedBridge(const ServedBridge&) = delete;
    ServedBridge& operator=(const ServedBridge&) = delete;

    const std::string& endpoint() const { return endpoint_; }
    const std::string& token() const { return token_; }
    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }

    // The two variables a launcher needs to reach this bridge.
    std::vector<std::string> launcher_env() const;

    // Sends SIGTERM and waits for the bridge to end; returns its wait status.
    int stop();

  private:
    pid_t pid_ = 0;
    std::string endpoint_;
    std::string token_;
    std::uint16_t port_ = 0;
    bool stopped_ = false;
};

// The launcher started under `name` (a link to it in `dir`, made when
// missing, as an installation makes), with `args` and the variables of
// `bridge` and nothing else.
ChildPlan launcher_plan(const TempDir& dir, const ServedBridge& bridge, const std::string& name,
                        const std::vector<std::string>& args);

// The value of `name` in export lines of the form export NAME='value',
// with the shell's single quoting undone; empty when absent.
std::string exported_value(std::string_view lines, std::string_view name);

// A connection to 127.0.0.1:`port`; not valid (and the test failed) when
// none could be made.
UniqueFd connect_to(std::uint16_t port);

// Sends `request` as it is to 127.0.0.1:`port` and returns every byte the
// peer sends back until it closes the connection.
std::string http_exchange(std::uint16_t port, std::string_view request);

// A POST of `body` to the bridge's path on `port`, with the token header
// when `token` is not empty.
std::string invocation_post(std::uint16_t port, std::string_view body, std::string_view token);

}  // namespace velmot::testing
