#include "support/scripted_bridge.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace velmot::testing {
namespace {

void require(bool ok, const char* what) {
    if (ok) return;
    std::perror(what);
    std::abort();
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Waits until `fd` shows `events`; false when `stop_fd` becomes readable
// first.
bool wait_unless_stopped(int fd, short events, int stop_fd) {
    pollfd watched[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (watched[1].revents != 0) return false;
        if (watched[0].revents != 0) return true;
    }
}

bool readable_now(int fd) {
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) == 1;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The Content-Length a request head announces; 0 when it names none.
std::size_t announced_length(std::string_view head) {
    constexpr std::string_view kName = "\r\ncontent-length:";
    for (std::size_t at = 0; at + kName.size() <= head.size(); ++at) {
        std::size_t i = 0;
        while (i < kName.size() && lower(head[at + i]) == kName[i])
            ++i;
        if (i < kName.size()) continue;
        std::size_t value = 0;
        for (std::size_t p = at + kName.size(); p < head.size(); ++p) {
            if (head[p] == ' ') continue;
            if (head[p] < '0' || head[p] > '9') break;
            value = value * 10 + static_cast<std::size_t>(head[p] - '0');
        }
        return value;
    }
    return 0;
}

bool request_complete(std::string_view bytes) {
    const std::size_t head_end = bytes.find("\r\n\r\n");
    if (head_end == std::string_view::npos) return false;
    return bytes.size() >= head_end + 4 + announced_length(bytes.substr(0, head_end + 2));
}

}  // namespace

BridgeStep send_bytes(std::string bytes) {
    return {BridgeStep::Kind::Send, std::move(bytes)};
}
BridgeStep await_go_ahead() {
    return {BridgeStep::Kind::AwaitGoAhead, {}};
}
BridgeStep close_connection() {
    return {BridgeStep::Kind::Close, {}};
}
BridgeStep keep_open() {
    return {BridgeStep::Kind::KeepOpen, {}};
}

ScriptedBridge::ScriptedBridge(std::vector<BridgeStep> script, BridgeOptions options)
    : script_(std::move(script)), options_(options) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    require(listener_ >= 0, "bridge socket");
    if (options_.receive_buffer_bytes > 0) {
        require(::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &options_.receive_buffer_bytes,
                             sizeof options_.receive_buffer_bytes) == 0,
                "bridge SO_RCVBUF");
    }
    if (options_.max_segment_bytes > 0) {
        require(::setsockopt(listener_, IPPROTO_TCP, TCP_MAXSEG, &options_.max_segment_bytes,
                             sizeof options_.max_segment_bytes) == 0,
                "bridge TCP_MAXSEG");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    require(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0,
            "bridge bind");
    require(::listen(listener_, 16) == 0, "bridge listen");
    socklen_t size = sizeof address;
    require(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0,
            "bridge getsockname");
    port_ = ntohs(address.sin_port);
    require(::pipe2(stop_pipe_, O_CLOEXEC) == 0, "bridge pipe");
    require(::pipe2(go_pipe_, O_CLOEXEC) == 0, "bridge pipe");
    require(::pipe2(client_gone_pipe_, O_CLOEXEC) == 0, "bridge pipe");
    thread_ = std::thread([this] { serve(); });
}

ScriptedBridge::~ScriptedBridge() {
    require(::write(stop_pipe_[1], "x", 1) == 1, "bridge stop");
    thread_.join();
    close_fd(connection_);
    close_fd(listener_);
    for (int* pipe : {stop_pipe_, go_pipe_, client_gone_pipe_}) {
        close_fd(pipe[0]);
        close_fd(pipe[1]);
    }
}

std::string ScriptedBridge::endpoint(std::string_view path, std::string_view port_prefix) const {
    std::string text = "http://127.0.0.1:";
    text += port_prefix;
    text += std::to_string(port_);
    text += path;
    return text;
}

std::optional<std::string> ScriptedBridge::request() {
    require(::write(client_gone_pipe_[1], "x", 1) == 1, "bridge client gone");
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return recorded_; });
    return request_;
}

void ScriptedBridge::go_ahead() {
    require(::write(go_pipe_[1], "x", 1) == 1, "bridge go ahead");
}

bool ScriptedBridge::script_played() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return played_; });
    return sends_ok_;
}

void ScriptedBridge::serve() {
    if (!accept_connection()) {
        finish_recording(std::nullopt);
    } else if (options_.read_request) {
        record_request();
    } else {
        finish_recording(std::string());
    }
    const bool sends_ok = connection_ >= 0 && play_script();
    close_fd(connection_);
    const std::lock_guard lock(mutex_);
    played_ = true;
    sends_ok_ = sends_ok;
    changed_.notify_all();
}

// Accepts the one connection. Once the test says the client is gone, a
// connection it made is already waiting in the queue; if none is, there will
// be none.
bool ScriptedBridge::accept_connection() {
    pollfd watched[3] = {
        {listener_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}, {client_gone_pipe_[0], POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (watched[1].revents != 0) return false;
        if (watched[0].revents != 0 || readable_now(listener_)) {
            connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            return connection_ >= 0;
        }
        if (watched[2].revents != 0) return false;
    }
}

void ScriptedBridge::record_request() {
    std::string bytes;
    char block[65536];
    while (!request_complete(bytes) && wait_unless_stopped(connection_, POLLIN, stop_pipe_[0])) {
        const ssize_t received = ::recv(connection_, block, sizeof block, MSG_DONTWAIT);
        if (received > 0) {
            bytes.append(block, static_cast<std::size_t>(received));
        } else if (received == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    finish_recording(std::move(bytes));
}

void ScriptedBridge::finish_recording(std::optional<std::string> request) {
    const std::lock_guard lock(mutex_);
    request_ = std::move(request);
    recorded_ = true;
    changed_.notify_all();
}

// Sends all of `bytes`; false on a send error. Stopping ends it early.
bool ScriptedBridge::send_all(std::string_view bytes) {
    while (!bytes.empty()) {
        if (!wait_unless_stopped(connection_, POLLOUT, stop_pipe_[0])) return true;
        const ssize_t sent =
            ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Takes one go-ahead; false when stopping.
bool ScriptedBridge::take_go_ahead() {
    if (!wait_unless_stopped(go_pipe_[0], POLLIN, stop_pipe_[0])) return false;
    char token;
    require(::read(go_pipe_[0], &token, 1) == 1, "bridge go ahead");
    return true;
}

void ScriptedBridge::hold_open_until_stopped() {
    {
        const std::lock_guard lock(mutex_);
        played_ = true;
        changed_.notify_all();
    }
    pollfd stop{stop_pipe_[0], POLLIN, 0};
    while (::poll(&stop, 1, -1) < 0 && errno == EINTR) {
    }
}

bool ScriptedBridge::play_script() {
    for (const BridgeStep& step : script_) {
        switch (step.kind) {
            case BridgeStep::Kind::Send:
                if (!send_all(step.bytes)) return false;
                break;
            case BridgeStep::Kind::AwaitGoAhead:
                if (!take_go_ahead()) return true;
                break;
            case BridgeStep::Kind::Close:
                return true;
            case BridgeStep::Kind::KeepOpen:
                hold_open_until_stopped();
                return true;
        }
    }
    return true;
}

}  // namespace velmot::testing
