// Watching the exchange with the bridge as it happens, for the diagnosing
// companion's trace: the request as it is sent, the reply's status line and
// headers, and what each frame did. The launcher installs no watcher, so each
// hook costs it one test of a pointer that stays null.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/output_channel.h"

namespace velmot {

struct ExchangeWatcher {
    // The request's pieces in order, head and body; `token` is the piece
    // that holds the access token.
    void (*request)(const struct iovec* pieces, std::size_t count, std::string_view token);
    // The status line and every header line, line end included.
    void (*head_line)(std::string_view line);
    void (*output)(OutputChannel channel, std::size_t decoded_bytes);
    void (*terminal)(std::uint8_t exit_code);
    void (*failure)(std::string_view code, std::uint8_t exit_code);
};

// The watcher lives for the rest of the process.
void watch_exchange(const ExchangeWatcher* watcher) noexcept;

namespace detail {
extern constinit const ExchangeWatcher* g_exchange_watcher;
}

inline void trace_request(const struct iovec* pieces, std::size_t count, std::string_view token) {
    if (detail::g_exchange_watcher) detail::g_exchange_watcher->request(pieces, count, token);
}
inline void trace_head_line(std::string_view line) {
    if (detail::g_exchange_watcher) detail::g_exchange_watcher->head_line(line);
}
inline void trace_output(OutputChannel channel, std::size_t decoded_bytes) {
    if (detail::g_exchange_watcher) detail::g_exchange_watcher->output(channel, decoded_bytes);
}
inline void trace_terminal(std::uint8_t exit_code) {
    if (detail::g_exchange_watcher) detail::g_exchange_watcher->terminal(exit_code);
}
inline void trace_failure(std::string_view code, std::uint8_t exit_code) {
    if (detail::g_exchange_watcher) detail::g_exchange_watcher->failure(code, exit_code);
}

}  // namespace velmot
