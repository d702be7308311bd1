#include "bridge/line_reader.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/failure_note.h"
#include "common/limits.h"
#include "common/system_calls.h"
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

std::nullopt_t not_utf8() {
    note_failure(FailureReason::NotUtf8);
    return std::nullopt;
}

}  // namespace

bool LineReader::read_line(std::string& line, std::uint64_t limit) {
    const std::optional<std::span<char>> taken = next_line(limit, true);
    if (!taken) return false;
    line.assign(taken->data(), taken->size());
    return true;
}

std::optional<std::span<char>> LineReader::read_body_line(std::uint64_t limit) {
    // Most body lines end among the bytes already kept.
    char* const start = bytes_.get() + begin_;
    const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, limit));
    if (available > 0) {
        if (const auto* feed = static_cast<const char*>(std::memchr(start, '\n', available))) {
            const auto size = static_cast<std::size_t>(feed - start) + 1;
            begin_ += size;
            return std::span<char>(start, size);
        }
    }
    return next_line(limit, false);
}

std::optional<std::span<char>> LineReader::next_line(std::uint64_t limit, bool check_utf8) {
    std::size_t searched = 0;  // kept bytes known to hold no line feed
    Utf8Progress utf8;
    for (;;) {
        const auto available =
            static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, limit));
        char* const start = bytes_.get() + begin_;
        const auto* feed = available > searched ? static_cast<const char*>(std::memchr(
                                                      start + searched, '\n', available - searched))
                                                : nullptr;
        if (feed != nullptr) {
            searched = static_cast<std::size_t>(feed - start) + 1;
            break;
        }
        searched = available;
        if (available == limit || closed_) break;
        // The line goes on past what has arrived.
        if (check_utf8 && !utf8.check_settled({start, available})) return not_utf8();
        if (!receive()) {
            // Bytes that are already not UTF-8 fail the line for that, as
            // they would have as they arrived had the line been checked. The
            // receive has moved them to the front.
            if (!check_utf8 && !utf8.check_settled({bytes_.get(), available})) {
                clear_failure_note();
                return not_utf8();
            }
            return std::nullopt;
        }
    }
    const std::span<char> line(bytes_.get() + begin_, searched);
    begin_ += searched;
    if (check_utf8 && !utf8.check_all({line.data(), line.size()})) return not_utf8();
    return line;
}

bool LineReader::receive() {
    make_room();
    const ssize_t received = sys::recv(fd_, bytes_.get() + end_, kReadBufferBytes, 0);
    if (received >= 0) {
        end_ += static_cast<std::size_t>(received);
        closed_ = received == 0;
        return true;
    }
    // EAGAIN here is the receive time limit.
    note_failure(errno == EAGAIN || errno == EWOULDBLOCK ? FailureReason::ReceiveTimedOut
                                                         : FailureReason::ReceiveFailed);
    return false;
}

void LineReader::make_room() {
    const std::size_t kept = end_ - begin_;
    if (kept + kReadBufferBytes > capacity_) {
        // Twice one receive at first, so that a line that spans two receives
        // fits; doubled for a longer line.
        const std::size_t capacity =
            std::max(kept + kReadBufferBytes, std::max(2 * capacity_, 2 * kReadBufferBytes));
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        if (kept > 0) std::memcpy(grown.get(), bytes_.get() + begin_, kept);
        bytes_ = std::move(grown);
        capacity_ = capacity;
    } else if (begin_ > 0) {
        std::memmove(bytes_.get(), bytes_.get() + begin_, kept);
    }
    begin_ = 0;
    end_ = kept;
}

}  // namespace velmot
