// Fuzzes `base64_decode` and `base64_decode_in_place`. The verdict must be
// "canonical text": accepted exactly when the text re-encodes to itself, and
// then to the bytes a plain decoder finds; decoding in place must agree with
// decoding into a new buffer. The input's own bytes, encoded, must decode
// back to them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/base64.h"
#include "fuzz_check.h"
#include "reference_base64.h"

using velmot::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> decoded = velmot::base64_decode(text);
    const std::optional<std::string> lenient = velmot::fuzz::reference_base64_lenient_decode(text);
    const bool canonical =
        lenient.has_value() && velmot::fuzz::reference_base64_encode(*lenient) == text;
    check(decoded.has_value() == canonical, "accepted exactly when canonical");
    if (decoded) {
        check(*decoded == *lenient, "decodes to the plain decoder's bytes");
        check(velmot::fuzz::reference_base64_encode(*decoded) == text, "re-encodes to itself");
    }

    std::string in_place(text);
    const bool in_place_ok = velmot::base64_decode_in_place(in_place);
    check(in_place_ok == decoded.has_value(), "in place: same verdict");
    if (in_place_ok) check(in_place == *decoded, "in place: same bytes");

    const std::string encoded = velmot::fuzz::reference_base64_encode(text);
    const std::optional<std::string> round_trip = velmot::base64_decode(encoded);
    check(round_trip.has_value() && *round_trip == text, "encoded bytes decode back");
    std::string encoded_in_place = encoded;
    check(velmot::base64_decode_in_place(encoded_in_place) && encoded_in_place == text,
          "encoded bytes decode back in place");
    return 0;
}
