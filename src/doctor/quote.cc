#include "doctor/quote.h"

#include "common/utf8.h"

namespace velmot::doctor {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex_escape(std::string& out, unsigned char byte) {
    out += "\\x";
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

// One ASCII byte, escaped where it could break or forge a line; inside
// quotes, the quotation mark and the backslash are escaped too.
void append_ascii(std::string& out, unsigned char byte, bool in_quotes) {
    switch (byte) {
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        case '\\':
        case '"':
            if (in_quotes) out.push_back('\\');
            out.push_back(static_cast<char>(byte));
            return;
        default:
            break;
    }
    if (byte < 0x20 || byte == 0x7F) {
        append_hex_escape(out, byte);
    } else {
        out.push_back(static_cast<char>(byte));
    }
}

void append_escaped(std::string& out, std::string_view text, bool in_quotes) {
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        const std::size_t length = byte < 0x80 ? 1 : utf8_sequence_length(text);
        if (byte < 0x80) {
            append_ascii(out, byte, in_quotes);
        } else if (length == 0) {
            append_hex_escape(out, byte);
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length == 0 ? 1 : length);
    }
}

}  // namespace

std::string quoted(std::string_view text) {
    std::string out(1, '"');
    append_escaped(out, text, true);
    out.push_back('"');
    return out;
}

std::string escaped(std::string_view text) {
    std::string out;
    append_escaped(out, text, false);
    return out;
}

}  // namespace velmot::doctor
