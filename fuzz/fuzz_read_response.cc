// Fuzzes `read_response` with the fuzz input as the bridge's whole reply.
//
// The reply is read twice: once from a stream socket, where it arrives in
// whatever pieces the kernel makes, and once from a packet socket that hands
// it over in pieces of sizes drawn from the input itself, one piece per
// receive (one byte, a few bytes, up to a whole read buffer). Where the
// receives split the reply must never change the verdict or the exit status.
//
// Replayed output goes to the null device: libFuzzer is asked, before it
// reads its flags, to put /dev/null on descriptors 1 and 2 while keeping its
// own log and sanitizer reports on a copy of the old standard error.
#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>
#include <vector>

#include "bridge/response_reader.h"
#include "common/limits.h"
#include "fuzz_check.h"

namespace {

using velmot::fuzz::check;

// The reply in pieces of the given sizes (cycled): as much as the socket
// takes at once goes in before the reader starts, and a thread sends the
// rest, if any, while the reader runs. The sending direction is shut down
// after the last piece.
class Bridge {
  public:
    Bridge(int fd, std::string_view bytes, const std::vector<std::size_t>& pieces)
        : fd_(fd), bytes_(bytes), pieces_(pieces) {
        send_pieces(MSG_DONTWAIT);
        if (bytes_.empty()) {
            ::shutdown(fd_, SHUT_WR);
        } else {
            rest_ = std::thread([this] {
                send_pieces(0);
                ::shutdown(fd_, SHUT_WR);
            });
        }
    }
    // Call once the reader's end is closed: a send blocked on a reader that
    // stopped early then fails.
    void finish() {
        if (rest_.joinable()) rest_.join();
    }

  private:
    void send_pieces(int flags) {
        while (!bytes_.empty()) {
            const std::size_t n = std::min(bytes_.size(), pieces_[next_ % pieces_.size()]);
            const ssize_t sent = ::send(fd_, bytes_.data(), n, MSG_NOSIGNAL | flags);
            if (sent < 0 && errno == EINTR) continue;
            if (sent < 0 && errno == EAGAIN && flags != 0) return;
            if (sent <= 0) {
                bytes_ = {};
                return;
            }
            bytes_.remove_prefix(static_cast<std::size_t>(sent));
            ++next_;
        }
    }

    int fd_;
    std::string_view bytes_;
    const std::vector<std::size_t>& pieces_;
    std::size_t next_ = 0;
    std::thread rest_;
};

velmot::InvocationResult read_reply(int type, std::string_view bytes,
                                    const std::vector<std::size_t>& pieces) {
    int fds[2];
    check(::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) == 0, "socketpair");
    Bridge bridge(fds[1], bytes, pieces);
    const velmot::InvocationResult result = velmot::read_response(fds[0]);
    ::close(fds[0]);
    bridge.finish();
    ::close(fds[1]);
    return result;
}

// Piece sizes from the input: mostly tiny, now and then up to a whole read
// buffer, never more (a packet socket would cut a longer piece).
std::vector<std::size_t> piece_sizes(std::string_view bytes) {
    std::uint64_t state = 0xcbf29ce484222325u;
    for (const char c : bytes)
        state = (state ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 64; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const std::uint64_t r = state >> 33;
        sizes.push_back(r % 4 == 0 ? 1 + (r >> 2) % velmot::kReadBufferBytes : 1 + (r >> 2) % 16);
    }
    return sizes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> args;
    static char discard_output[] = "-close_fd_mask=3";
    args.assign(*argv, *argv + *argc);
    // Right after the program name, so that a mask given on the command line
    // still wins.
    args.insert(args.begin() + 1, discard_output);
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::vector<std::size_t> whole{1 << 20};
    const velmot::InvocationResult streamed = read_reply(SOCK_STREAM, reply, whole);
    const velmot::InvocationResult pieced = read_reply(SOCK_SEQPACKET, reply, piece_sizes(reply));
    check(streamed == pieced, "the verdict does not depend on where receives split the reply");
    return 0;
}
