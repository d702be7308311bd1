#include "support/bridge_frames.h"

#include <cstdint>

#include "bridge/request_writer.h"

namespace velmot::testing {
namespace {

std::string output_frame(std::string_view channel, std::string_view bytes) {
    std::string line = "{\"kind\":\"plugin_cli_output\",\"protocol_version\":1,\"channel\":\"";
    line += channel;
    line += "\",\"bytes_base64\":\"";
    line += base64_encode(bytes);
    line += "\"}\n";
    return line;
}

}  // namespace

std::string base64_encode(std::string_view bytes) {
    constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            const auto byte = k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u;
            group = (group << 8) | byte;
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

std::string stdout_frame(std::string_view bytes) {
    return output_frame("stdout", bytes);
}
std::string stderr_frame(std::string_view bytes) {
    return output_frame("stderr", bytes);
}

std::string terminal_frame(int exit_code) {
    return "{\"kind\":\"plugin_cli_terminal\",\"protocol_version\":1,\"exit_code\":" +
           std::to_string(exit_code) + "}\n";
}

std::string failure_frame(std::string_view code, std::string_view message, int exit_code) {
    std::string line = "{\"kind\":\"plugin_cli_failure\",\"protocol_version\":1,\"code\":";
    append_json_string(line, code);
    line += ",\"message\":";
    append_json_string(line, message);
    line += ",\"exit_code\":" + std::to_string(exit_code) + "}\n";
    return line;
}

std::string ok_response(std::string_view body) {
    std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size());
    response += "\r\n\r\n";
    response += body;
    return response;
}

}  // namespace velmot::testing
