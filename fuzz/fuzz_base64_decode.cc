// Fuzzes `base64_decode_in_place`. The verdict must be "canonical text":
// accepted exactly when the text re-encodes to itself, and then to the bytes
// a plain decoder finds. The input's own bytes, encoded, must decode back to
// them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/base64.h"
#include "fuzz_check.h"
#include "reference_base64.h"

using velmot::fuzz::check;

namespace {

std::optional<std::string> decode(std::string text) {
    const std::optional<std::span<char>> bytes = velmot::base64_decode_in_place(text);
    if (!bytes) return std::nullopt;
    return std::string(bytes->data(), bytes->size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> decoded = decode(std::string(text));
    const std::optional<std::string> lenient = velmot::fuzz::reference_base64_lenient_decode(text);
    const bool canonical =
        lenient.has_value() && velmot::fuzz::reference_base64_encode(*lenient) == text;
    check(decoded.has_value() == canonical, "accepted exactly when canonical");
    if (decoded) {
        check(*decoded == *lenient, "decodes to the plain decoder's bytes");
        check(velmot::fuzz::reference_base64_encode(*decoded) == text, "re-encodes to itself");
    }

    const std::optional<std::string> round_trip =
        decode(velmot::fuzz::reference_base64_encode(text));
    check(round_trip.has_value() && *round_trip == text, "encoded bytes decode back");
    return 0;
}
