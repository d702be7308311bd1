#include "bridge/line_reader.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/failure_note.h"
#include "common/utf8.h"

namespace velmot {
namespace {

// The length a UTF-8 sequence announces by its first byte; 1 for bytes that
// cannot start one, which validation then refuses.
std::size_t announced_length(unsigned char lead) {
    if (lead >= 0xC0 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF7) return 4;
    return 1;
}

// Where the part of `text` ends that more bytes can no longer change: before
// a last sequence that is still incomplete, else at the end.
std::size_t settled_end(std::string_view text) {
    const std::size_t n = text.size();
    for (std::size_t back = 1; back <= 4 && back <= n; ++back) {
        const auto byte = static_cast<unsigned char>(text[n - back]);
        if ((byte & 0xC0) == 0x80) continue;
        return back < announced_length(byte) ? n - back : n;
    }
    return n;
}

// Validates a growing line in steps, while its bytes are still in cache; a
// sequence split between two receives waits for its remaining bytes.
class Utf8Progress {
  public:
    bool check_settled(std::string_view line) { return check_up_to(line, settled_end(line)); }
    bool check_all(std::string_view line) { return check_up_to(line, line.size()); }

  private:
    bool check_up_to(std::string_view line, std::size_t end) {
        if (end <= checked_) return true;
        if (!is_valid_utf8(line.substr(checked_, end - checked_))) return false;
        checked_ = end;
        return true;
    }
    std::size_t checked_ = 0;
};

bool not_utf8() {
    note_failure(FailureReason::NotUtf8);
    return false;
}

}  // namespace

bool LineReader::refill() {
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer_, sizeof buffer_, 0);
        if (received > 0) {
            begin_ = 0;
            end_ = static_cast<std::size_t>(received);
            return true;
        }
        if (received == 0) {
            closed_ = true;
            return true;
        }
        if (errno == EINTR) continue;
        // EAGAIN here is the receive time limit.
        note_failure(errno == EAGAIN || errno == EWOULDBLOCK ? FailureReason::ReceiveTimedOut
                                                             : FailureReason::ReceiveFailed);
        return false;
    }
}

bool LineReader::read_line(std::string& line, std::uint64_t limit) {
    std::size_t searched = 0;
    if (begin_ < end_) {
        const char* start = buffer_ + begin_;
        const auto available =
            static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, limit));
        searched = available;
        if (const auto* feed = static_cast<const char*>(std::memchr(start, '\n', available))) {
            const auto size = static_cast<std::size_t>(feed - start) + 1;
            line.assign(start, size);
            begin_ += size;
            return is_valid_utf8(line) || not_utf8();
        }
    }
    return read_spanning_line(line, limit, searched, true);
}

std::optional<std::span<char>> LineReader::read_body_line(std::string& storage,
                                                          std::uint64_t limit) {
    std::size_t searched = 0;
    if (begin_ < end_) {
        char* start = buffer_ + begin_;
        const auto available =
            static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, limit));
        searched = available;
        if (auto* feed = static_cast<char*>(std::memchr(start, '\n', available))) {
            const auto size = static_cast<std::size_t>(feed - start) + 1;
            begin_ += size;
            return std::span<char>(start, size);
        }
    }
    storage.clear();
    if (!read_spanning_line(storage, limit, searched, false)) return std::nullopt;
    return std::span<char>(storage);
}

bool LineReader::read_spanning_line(std::string& line, std::uint64_t limit, std::size_t searched,
                                    bool check_utf8) {
    Utf8Progress utf8;
    while (line.size() < limit) {
        if (begin_ == end_) {
            if (closed_) break;
            if (!refill()) {
                // Bytes that are already not UTF-8 fail the line for that, as
                // they would have as they arrived had the line been checked.
                if (!check_utf8 && !utf8.check_settled(line)) {
                    clear_failure_note();
                    return not_utf8();
                }
                return false;
            }
            if (closed_) break;
        }
        const std::uint64_t wanted = limit - line.size();
        const char* start = buffer_ + begin_;
        const auto available =
            static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, wanted));
        const auto* feed = available > searched ? static_cast<const char*>(std::memchr(
                                                      start + searched, '\n', available - searched))
                                                : nullptr;
        searched = 0;
        if (feed != nullptr) {
            line.append(start, static_cast<std::size_t>(feed - start) + 1);
            begin_ += static_cast<std::size_t>(feed - start) + 1;
            break;
        }
        // The line goes on past what has arrived: give it room for a whole
        // frame at once rather than growing it receive by receive.
        if (line.empty() && wanted > available) {
            line.reserve(
                static_cast<std::size_t>(std::min<std::uint64_t>(wanted, kLongLineReserveBytes)));
        }
        line.append(start, available);
        begin_ += available;
        if (check_utf8 && !utf8.check_settled(line)) return not_utf8();
    }
    return !check_utf8 || utf8.check_all(line) || not_utf8();
}

}  // namespace velmot
