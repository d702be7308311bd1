#include "support/bridge_frames.h"

#include "common/frame_writer.h"

namespace velmot::testing {

std::string stdout_frame(std::string_view bytes) {
    std::string line;
    append_output_frame(line, OutputChannel::Stdout, bytes);
    return line;
}

std::string stderr_frame(std::string_view bytes) {
    std::string line;
    append_output_frame(line, OutputChannel::Stderr, bytes);
    return line;
}

std::string terminal_frame(std::uint8_t exit_code) {
    std::string line;
    append_terminal_frame(line, exit_code);
    return line;
}

std::string failure_frame(std::string_view code, std::string_view message, std::uint8_t exit_code) {
    std::string line;
    append_failure_frame(line, code, message, exit_code);
    return line;
}

std::string ok_response(std::string_view body) {
    std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size());
    response += "\r\n\r\n";
    response += body;
    return response;
}

}  // namespace velmot::testing
