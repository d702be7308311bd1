// Writes the prepared bridge responses the process benchmark replays, one
// file per scenario, each a complete HTTP/1.1 reply (status line, headers
// with Content-Length, body of frame lines):
//
//   small  one short standard-output line, exit status 0
//   lines  20,000 frames of one short line each, exit status 0
//   big    65,536-byte standard-output chunks (the last one shorter) filling
//          the body to just under the 12,582,912-byte limit, exit status 0
//   mixed  standard-output and standard-error lines alternating, status 3
//
// Usage: make_responses DIR   (writes DIR/<scenario>.http)

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/frame_writer.h"

namespace {

constexpr std::size_t kMaxBody = 12u * 1024 * 1024;
constexpr std::size_t kChunkBytes = 65'536;
constexpr int kLinesFrames = 20'000;
constexpr int kMixedPairs = 1'000;
constexpr int kMixedStatus = 3;

class Body {
  public:
    void output(bool to_stderr, std::string_view chunk) {
        velmot::append_output_frame(
            text_, to_stderr ? velmot::OutputChannel::Stderr : velmot::OutputChannel::Stdout,
            chunk);
    }
    void terminal(std::uint8_t status) { velmot::append_terminal_frame(text_, status); }
    std::size_t size() const { return text_.size(); }
    std::string response() const {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nContent-Length: " +
               std::to_string(text_.size()) + "\r\nConnection: close\r\n\r\n" + text_;
    }

  private:
    std::string text_;
};

Body small() {
    Body body;
    body.output(false, "velmot bench: one short line\n");
    body.terminal(0);
    return body;
}

Body lines() {
    Body body;
    for (int i = 0; i < kLinesFrames; ++i)
        body.output(false, "line " + std::to_string(100'000 + i).substr(1) + " of the lines run\n");
    body.terminal(0);
    return body;
}

// At least `size` bytes of numbered 100-byte lines. Chunk boundaries fall
// inside lines, so the launcher's line buffer holds a remainder between
// chunks, as it would for most real output.
std::string numbered_text(std::size_t size, std::size_t& line_number) {
    std::string text;
    text.reserve(size + 100);
    while (text.size() < size) {
        text += std::to_string(100'000'000 + line_number++).substr(1);
        text += ' ';
        for (char c = 'a'; text.size() % 100 != 99; c = c == 'z' ? 'a' : c + 1)
            text += c;
        text += '\n';
    }
    return text;
}

Body big() {
    Body body;
    Body terminal_only;
    terminal_only.terminal(0);
    const std::size_t room = kMaxBody - terminal_only.size();
    std::string text;
    std::size_t line_number = 0;
    for (;;) {
        const std::size_t left = room - body.size();
        std::size_t chunk = kChunkBytes;
        if (velmot::output_frame_length(chunk) > left) {
            // The largest last chunk that still fits.
            if (left <= velmot::output_frame_length(0)) break;
            chunk = (left - velmot::output_frame_length(0)) / 4 * 3;
            if (chunk == 0) break;
        }
        if (text.size() < chunk) text += numbered_text(4 * kChunkBytes, line_number);
        body.output(false, std::string_view(text).substr(0, chunk));
        text.erase(0, chunk);
    }
    body.terminal(0);
    return body;
}

Body mixed() {
    Body body;
    for (int i = 0; i < kMixedPairs; ++i) {
        const std::string number = std::to_string(10'000 + i).substr(1);
        body.output(false, "out " + number + ": a line for standard output\n");
        body.output(true, "err " + number + ": a line for standard error\n");
    }
    body.terminal(kMixedStatus);
    return body;
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_responses DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const struct {
        const char* name;
        Body (*make)();
    } scenarios[] = {{"small", small}, {"lines", lines}, {"big", big}, {"mixed", mixed}};
    for (const auto& scenario : scenarios) {
        const Body body = scenario.make();
        if (body.size() > kMaxBody ||
            !write_file(dir + "/" + scenario.name + ".http", body.response())) {
            std::fprintf(stderr, "make_responses: cannot write %s\n", scenario.name);
            return 1;
        }
    }
    return 0;
}
