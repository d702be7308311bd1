#include "common/frame_writer.h"

#include "common/base64_encode.h"
#include "common/json_string.h"

namespace velmot {
namespace {

constexpr std::string_view kOutputHead =
    R"({"kind":"plugin_cli_output","protocol_version":1,"channel":")";
constexpr std::string_view kOutputMiddle = R"(","bytes_base64":")";
constexpr std::string_view kOutputTail = "\"}\n";
constexpr std::string_view kChannelNames[] = {"stdout", "stderr"};
constexpr std::string_view kTerminalHead =
    R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":)";
constexpr std::string_view kFailureHead =
    R"({"kind":"plugin_cli_failure","protocol_version":1,"code":)";

std::string_view channel_name(OutputChannel channel) {
    return kChannelNames[channel == OutputChannel::Stdout ? 0 : 1];
}

void append_decimal(std::string& out, std::uint8_t value) {
    if (value >= 100) out.push_back(static_cast<char>('0' + value / 100));
    if (value >= 10) out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

std::size_t output_frame_length(std::size_t chunk_bytes) {
    static_assert(kChannelNames[0].size() == kChannelNames[1].size());
    return kOutputHead.size() + kChannelNames[0].size() + kOutputMiddle.size() +
           base64_length(chunk_bytes) + kOutputTail.size();
}

void append_output_frame(std::string& out, OutputChannel channel, std::string_view bytes) {
    out.reserve(out.size() + output_frame_length(bytes.size()));
    out.append(kOutputHead);
    out.append(channel_name(channel));
    out.append(kOutputMiddle);
    append_base64(out, bytes);
    out.append(kOutputTail);
}

void append_terminal_frame(std::string& out, std::uint8_t exit_code) {
    out.append(kTerminalHead);
    append_decimal(out, exit_code);
    out.append("}\n");
}

void append_failure_frame(std::string& out, std::string_view code, std::string_view message,
                          std::uint8_t exit_code) {
    out.append(kFailureHead);
    append_json_string(out, code);
    out.append(R"(,"message":)");
    append_json_string(out, message);
    out.append(R"(,"exit_code":)");
    append_decimal(out, exit_code);
    out.append("}\n");
}

}  // namespace velmot
