// A stand-in for the host application's bridge, for tests: a listener on
// 127.0.0.1 with an ephemeral port, served by a thread inside the test
// process. It accepts one connection, records the exact request bytes (the
// head and as many body bytes as its Content-Length announces, or whatever
// arrived before the client closed) and then plays a script: send bytes,
// wait for the test's go-ahead, close, or keep the connection open.
//
// Every wait of the thread also watches for the bridge's destruction, which
// stops the script wherever it stands, closes the sockets and joins the
// thread. All descriptors are close-on-exec, so launched children never
// inherit them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmot::testing {

struct BridgeStep {
    enum class Kind { Send, AwaitGoAhead, Close, KeepOpen };
    Kind kind = Kind::Close;
    std::string bytes;  // for Send
};

BridgeStep send_bytes(std::string bytes);
// Waits until the test calls `go_ahead()` (once per such step).
BridgeStep await_go_ahead();
// Closes the connection at once; the script ends.
BridgeStep close_connection();
// Holds the connection open, unanswered, until the bridge is destroyed.
BridgeStep keep_open();

struct BridgeOptions {
    // When false, the bridge accepts and then never reads a byte.
    bool read_request = true;
    // SO_RCVBUF for the accepted connection (set on the listener, which
    // passes it on); 0 keeps the system's default.
    int receive_buffer_bytes = 0;
    // TCP_MAXSEG for the accepted connection, announced to the client in the
    // handshake; 0 keeps the default. A small segment size keeps the client's
    // send buffer small too, which loopback would otherwise size for
    // megabytes.
    int max_segment_bytes = 0;
};

class ScriptedBridge {
  public:
    // Listens and starts serving at once. A script that does not end in
    // `keep_open()` ends by closing the connection.
    explicit ScriptedBridge(std::vector<BridgeStep> script, BridgeOptions options = {});
    ~ScriptedBridge();
    ScriptedBridge(const ScriptedBridge&) = delete;
    ScriptedBridge& operator=(const ScriptedBridge&) = delete;

    std::uint16_t port() const { return port_; }

    // "http://127.0.0.1:" + `port_prefix` + the port + `path`.
    std::string endpoint(std::string_view path = "/bridge",
                         std::string_view port_prefix = "") const;

    // The recorded request. Call it once the client has connected or ended:
    // it waits for the recording, and yields nullopt when no connection was
    // made (none accepted and none pending).
    std::optional<std::string> request();

    // Releases one `await_go_ahead()` step.
    void go_ahead();

    // Waits until the whole script has been played (up to a `keep_open()`
    // step); false if a send to the client failed.
    bool script_played();

  private:
    void serve();
    bool accept_connection();
    void record_request();
    bool play_script();
    bool send_all(std::string_view bytes);
    bool take_go_ahead();
    void hold_open_until_stopped();
    void finish_recording(std::optional<std::string> request);

    std::vector<BridgeStep> script_;
    BridgeOptions options_;
    int listener_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
    int stop_pipe_[2] = {-1, -1};
    int go_pipe_[2] = {-1, -1};
    int client_gone_pipe_[2] = {-1, -1};

    std::mutex mutex_;
    std::condition_variable changed_;
    bool recorded_ = false;
    std::optional<std::string> request_;
    bool played_ = false;
    bool sends_ok_ = true;

    std::thread thread_;
};

}  // namespace velmot::testing
