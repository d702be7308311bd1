// The bridge's log: one line per request on a descriptor the bridge owns
// (standard error, or a file given with --log), each written with a single
// write so that lines of concurrent requests never mix. The log never holds
// the access token or a request's arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velmot::devbridge {

class RequestLog {
  public:
    // `fd` is borrowed and must stay open while the log is used.
    explicit RequestLog(int fd) : fd_(fd) {}

    // "velmot_devbridge: notes status 200 exit 0 312 bytes 4 ms": the plug-in
    // id, "core", or "-" for a request that named no invocation; the HTTP
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

  private:
    int fd_;
};

}  // namespace velmot::devbridge
