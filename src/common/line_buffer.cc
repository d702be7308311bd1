#include "common/line_buffer.h"

#include <sys/uio.h>

#include <cstring>

#include "common/descriptor_io.h"

namespace velmot {

bool LineBuffer::write(std::string_view chunk) {
    // The common case, a chunk of whole lines with nothing held before it,
    // goes out as it is.
    if (held_ == 0 && !chunk.empty() && chunk.back() == '\n') return write_all(fd_, chunk);
    return write_around_held(chunk);
}

namespace {

// The number of bytes up to and including the last line feed of `chunk`, or
// 0. Searched from the end, where a chunk of output usually has one.
std::size_t through_last_line_feed(std::string_view chunk) {
    std::size_t n = chunk.size();
    while (n > 0 && chunk[n - 1] != '\n')
        --n;
    return n;
}

}  // namespace

bool LineBuffer::write_around_held(std::string_view chunk) {
    std::string_view remainder = chunk;
    if (const std::size_t through_lf = through_last_line_feed(chunk); through_lf > 0) {
        if (!write_held_then(chunk.substr(0, through_lf))) return false;
        remainder = chunk.substr(through_lf);
    }
    if (remainder.empty()) return true;
    if (remainder.size() >= kStdoutBufferBytes) return write_held_then(remainder);
    if (remainder.size() > kStdoutBufferBytes - held_) {
        if (!write_held_then({})) return false;
    }
    hold(remainder);
    return true;
}

bool LineBuffer::flush() {
    return write_held_then({});
}

bool LineBuffer::write_held_then(std::string_view bytes) {
    // One gathered write for the held partial line and the new bytes keeps a
    // line that was split across chunks in one system call.
    struct iovec pieces[2] = {{bytes_, held_}, {const_cast<char*>(bytes.data()), bytes.size()}};
    held_ = 0;
    return write_all_gathered(fd_, pieces, 2);
}

void LineBuffer::hold(std::string_view bytes) {
    std::memcpy(bytes_ + held_, bytes.data(), bytes.size());
    held_ += bytes.size();
}

}  // namespace velmot
