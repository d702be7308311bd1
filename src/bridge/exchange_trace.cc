#include "bridge/exchange_trace.h"

namespace velmot {

namespace detail {
constinit const ExchangeWatcher* g_exchange_watcher = nullptr;
}

void watch_exchange(const ExchangeWatcher* watcher) noexcept {
    detail::g_exchange_watcher = watcher;
}

}  // namespace velmot
