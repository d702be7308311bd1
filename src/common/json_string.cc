#include "common/json_string.h"

namespace velmot {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool needs_escape(unsigned char byte) {
    return byte < 0x20 || byte == '"' || byte == '\\';
}

void append_escape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case 0x08:
            out += "\\b";
            return;
        case 0x09:
            out += "\\t";
            return;
        case 0x0A:
            out += "\\n";
            return;
        case 0x0C:
            out += "\\f";
            return;
        case 0x0D:
            out += "\\r";
            return;
        default:
            break;
    }
    const char escape[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
    out.append(escape, sizeof escape);
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!needs_escape(byte)) continue;
        out.append(text.data() + run_start, i - run_start);
        append_escape(out, byte);
        run_start = i + 1;
    }
    out.append(text.data() + run_start, text.size() - run_start);
    out.push_back('"');
}

}  // namespace velmot
