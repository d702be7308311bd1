// Fuzzes `parse_endpoint` with arbitrary bytes. Beyond "no crash", every
// verdict is checked against an independent reading of the accepted form,
// "http://127.0.0.1:" [+] digits (1 to 65535) "/" tail, and an accepted
// endpoint, written back as "http://127.0.0.1:" + port + path, must parse to
// the same `Endpoint`.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "launcher/endpoint.h"

namespace {

using velmot::Endpoint;
using velmot::fuzz::check;

constexpr std::string_view kPrefix = "http://127.0.0.1:";

// The endpoint the text should give, read with a rule of its own.
std::optional<Endpoint> expected_endpoint(std::string_view text) {
    if (!text.starts_with(kPrefix)) return std::nullopt;
    text.remove_prefix(kPrefix.size());
    if (text.starts_with('+')) text.remove_prefix(1);
    std::size_t digits = 0;
    std::uint32_t port = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        port = port * 10 + static_cast<std::uint32_t>(text[digits] - '0');
        if (port > 65535) return std::nullopt;
        ++digits;
    }
    if (digits == 0 || port == 0) return std::nullopt;
    text.remove_prefix(digits);
    if (!text.starts_with('/') || text.size() < 2) return std::nullopt;
    // The path goes verbatim into the request line, so no line break.
    if (text.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    return Endpoint{"127.0.0.1", std::string(text), static_cast<std::uint16_t>(port)};
}

bool same(const Endpoint& a, const Endpoint& b) {
    return a.host == b.host && a.path == b.path && a.port == b.port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<Endpoint> parsed = velmot::parse_endpoint(text);
    const std::optional<Endpoint> expected = expected_endpoint(text);
    check(parsed.has_value() == expected.has_value(), "verdict matches the accepted form");
    if (!parsed) return 0;
    check(same(*parsed, *expected), "fields match the accepted form");

    const std::string written = std::string(kPrefix) + std::to_string(parsed->port) + parsed->path;
    const std::optional<Endpoint> again = velmot::parse_endpoint(written);
    check(again.has_value() && same(*again, *parsed), "re-serialised endpoint parses the same");
    return 0;
}
