// The bridge's log: one line per request on a descriptor the bridge owns (a
// file given with --log, or nowhere), each written with a single write so
// that lines never mix. The log never holds the access token or a
// request's arguments.
//
// Lines are queued and written by one thread of the log's own, so that a
// destination that stops draining (a FIFO whose reader stopped, a terminal
// paused with Ctrl-S) can hold up nothing but that thread: the queue is
// bounded, lines that find it full are dropped, and once it has drained a
// line says how many were dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmot::devbridge {

// Lines the queue holds at most.
inline constexpr std::size_t kLogQueueLines = 256;

class RequestLog {
  public:
    // `fd` is borrowed and must stay open while the log is used.
    explicit RequestLog(int fd);
    // Gives the writer a moment to write what is queued; a writer still
    // blocked then is left behind, with the queue it owns.
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // "velmot_devbridge: notes status 200 exit 0 312 bytes 4 ms": the plug-in
    // id, "_core", or "-" for a request that named no invocation; the HTTP
    // status; the exit status when a command's result was sent; the body's
    // size and the time spent on the request; then "; " and `remark`, if
    // any.
    void record(std::string_view invocation, int http_status, std::optional<int> exit_code,
                std::size_t body_bytes, std::int64_t milliseconds,
                std::string_view remark = {}) const;

    // "velmot_devbridge: notes abandoned by its client after 812 ms": the
    // client went away before its answer was sent; its command was stopped.
    void abandoned(std::string_view invocation, std::int64_t milliseconds) const;

    // "velmot_devbridge: " followed by `text` as one line.
    void note(std::string_view text) const;

    // The descriptor the lines go to.
    int fd() const;

    struct Queue;

  private:
    void push(std::string line) const;

    std::shared_ptr<Queue> queue_;
};

}  // namespace velmot::devbridge
