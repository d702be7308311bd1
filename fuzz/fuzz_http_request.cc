// Fuzzes the development bridge's HTTP request reader. The first input byte
// chooses how the rest is cut into the pieces the reader is given, as a
// connection would deliver them; the reader sees the whole request once as
// one piece and once in those pieces, and must come to the same verdict,
// head and body either way. Every verdict is checked against the bounds:
// a refusal is one of the statuses the reader may give, a head holds at
// most its field count, no field name has an upper-case letter or a value
// white space at its ends, and a body is never larger than its limit, nor,
// sent with a Content-Length, other than that length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "devbridge/devbridge_limits.h"
#include "devbridge/http_request.h"
#include "fuzz_check.h"

namespace {

using velmot::devbridge::HttpRequestReader;
using velmot::fuzz::check;

struct Verdict {
    HttpRequestReader::Step step = HttpRequestReader::Step::NeedMore;
    int refusal = 0;
    velmot::devbridge::HttpHead head;
    std::string body;
};

Verdict read_in_pieces(std::string_view input, std::size_t piece) {
    HttpRequestReader reader;
    Verdict verdict;
    while (!input.empty()) {
        const std::size_t size = piece < input.size() ? piece : input.size();
        verdict.step = reader.take(input.substr(0, size));
        input.remove_prefix(size);
        if (verdict.step == HttpRequestReader::Step::HeadReady) {
            verdict.head = reader.head();
            verdict.step = reader.read_body();
        }
        if (verdict.step == HttpRequestReader::Step::Refused ||
            verdict.step == HttpRequestReader::Step::BodyReady) {
            break;
        }
    }
    verdict.refusal = verdict.step == HttpRequestReader::Step::Refused ? reader.refusal() : 0;
    if (verdict.step == HttpRequestReader::Step::BodyReady) verdict.body = reader.body();
    return verdict;
}

void check_bounds(const Verdict& verdict) {
    if (verdict.step == HttpRequestReader::Step::Refused) {
        const int s = verdict.refusal;
        check(s == 400 || s == 413 || s == 415 || s == 431 || s == 501 || s == 505,
              "a refusal has one of the reader's statuses");
        return;
    }
    check(verdict.head.fields.size() <= velmot::devbridge::kMaxHeaderFields,
          "a head holds at most the field limit");
    for (const auto& [name, value] : verdict.head.fields) {
        for (const char c : name)
            check(c < 'A' || c > 'Z', "field names are lower case");
        check(value.empty() || (value.front() != ' ' && value.back() != ' ' &&
                                value.front() != '\t' && value.back() != '\t'),
              "field values carry no white space at their ends");
    }
    if (verdict.step != HttpRequestReader::Step::BodyReady) return;
    check(verdict.body.size() <= velmot::devbridge::kMaxRequestBodyBytes,
          "a body stays within its limit");
    if (const auto length = verdict.head.value("content-length")) {
        std::size_t value = 0;
        for (const char c : *length)
            value = value * 10 + static_cast<std::size_t>(c - '0');  // digits only, by now
        check(verdict.body.size() == value, "a body sent with a length has that length");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = static_cast<std::size_t>(data[0] % 64) + 1;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Verdict whole = read_in_pieces(input, input.size() + 1);
    const Verdict pieces = read_in_pieces(input, piece);
    check_bounds(whole);
    check_bounds(pieces);
    check(whole.step == pieces.step, "the verdict does not depend on how the bytes arrive");
    check(whole.refusal == pieces.refusal, "the refusal does not depend on the pieces");
    check(whole.body == pieces.body, "the body does not depend on the pieces");
    check(whole.head.method == pieces.head.method && whole.head.target == pieces.head.target &&
              whole.head.fields == pieces.head.fields,
          "the head does not depend on the pieces");
    return 0;
}
