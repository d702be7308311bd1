// Compares the frame decoder's verdicts with an independent JSON parser on
// generated and mutated lines. Generated JSON values ride in a frame as an
// ignored member, which must be well-formed although it is dropped, so the
// frame is accepted exactly when the value is JSON; strings ride as a
// failure frame's message, so their decoded content can be compared too.
// Every line that one accepts and the other rejects must be explained by one
// of the rules where the two deliberately differ; where both accept, the
// values must agree.
//
// Deliberate differences (each checked below, by looking at what the other
// parser produced, not by guessing from the text):
// 1. Numbers too large to be finite. Ours rejects 1e400, -1e400 and integers
//    of 400 digits; the other parser reads them as +/-infinity and accepts.
//    Near the largest double the other parser also rounds less exactly
//    (1.7976931348623158e308 becomes infinity there, the largest double here),
//    so any value it turns into infinity or within a few units of the largest
//    double is allowed to differ.
// 2. Written exponents beyond about 2^31 in magnitude. The other parser fails
//    with "exponent overflow" even where the value is plainly zero
//    (0e9999999999) or underflows (1e-9999999999); ours accepts those as zero
//    and rejects only the ones that are too large.
// 3. Nesting. The other parser allows 32 levels unless told otherwise; it is
//    told 127, and then counts levels as ours does (127 accepted, 128 not).
// 4. UTF-8. The other parser validates UTF-8 inside strings; ours is handed
//    lines already known to be valid UTF-8, so only valid UTF-8 is compared.
// 5. Frame rules. Where the other parser accepts a mutated frame line, ours
//    may still refuse it as a frame; where ours accepts one, the other's
//    value must hold the same frame.

#include <gtest/gtest.h>
#include <boost/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include "common/utf8.h"
#include "support/frame_text.h"

namespace velmot {
namespace {

namespace bj = boost::json;
using namespace std::string_literals;

struct Verdict {
    bool accepted = false;
    bj::error_code error;
    bj::value value;
};

Verdict other_parser(std::string_view text) {
    bj::parse_options options;
    options.max_depth = 127;
    Verdict verdict;
    verdict.value = bj::parse(text, verdict.error, {}, options);
    verdict.accepted = !verdict.error;
    return verdict;
}

bool near_or_beyond_largest(double d) {
    return !std::isfinite(d) || std::abs(d) >= 1.797693134862315e308;
}

bool holds_huge_double(const bj::value& v) {
    if (v.is_double()) return near_or_beyond_largest(v.get_double());
    if (v.is_array()) {
        for (const auto& e : v.get_array()) {
            if (holds_huge_double(e)) return true;
        }
    }
    if (v.is_object()) {
        for (const auto& m : v.get_object()) {
            if (holds_huge_double(m.value())) return true;
        }
    }
    return false;
}

// Whether a disagreement is one of the differences listed at the top.
bool deliberate_difference(bool ours, const Verdict& other) {
    if (!ours && other.accepted) return holds_huge_double(other.value);               // 1
    if (ours && !other.accepted) return other.error == bj::error::exponent_overflow;  // 2
    return false;
}

// ---- Generated JSON text ----

class Generator {
  public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
    bool chance(std::size_t one_in) { return pick(one_in) == 0; }

    std::string space() {
        static constexpr std::string_view kSpaces[] = {"",   "",   "",   "",    " ",
                                                       "\t", "\n", "\r", " \t "};
        return std::string(kSpaces[pick(std::size(kSpaces))]);
    }

    std::string digits(std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s += static_cast<char>('0' + pick(10));
        return s;
    }

    std::string number() {
        std::string s = chance(3) ? "-" : "";
        const std::size_t int_digits = chance(10) ? 18 + pick(30) : 1 + pick(4);
        if (chance(4)) {
            s += '0';
        } else {
            s += static_cast<char>('1' + pick(9));
            s += digits(int_digits - 1);
        }
        if (chance(3)) s.append(".").append(digits(1 + pick(5)));
        if (chance(3)) {
            s += chance(2) ? "e" : "E";
            if (chance(2)) s += chance(2) ? "+" : "-";
            s += chance(20) ? digits(9 + pick(4)) : digits(1 + pick(3));
        }
        return s;
    }

    std::string hex4(std::uint32_t unit) {
        static constexpr char kHex[] = "0123456789abcdefABCDEF";
        std::string s = "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            const std::uint32_t nibble = (unit >> shift) & 0xF;
            s += nibble >= 10 && chance(2) ? kHex[nibble + 6] : kHex[nibble];
        }
        return s;
    }

    std::string string_content() {
        static constexpr std::string_view kPlain[] = {
            "a",    "kind", " ",   "\x7f", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
            "\\\"", "\\\\", "\\/", "\\b",  "\\f",      "\\n",          "\\r",
            "\\t",  "/",    "'"};
        std::string s;
        for (std::size_t n = pick(6); n > 0; --n) {
            switch (pick(8)) {
                case 0:
                    s += hex4(static_cast<std::uint32_t>(pick(0xD800)));
                    break;
                case 1:
                    s += hex4(static_cast<std::uint32_t>(0xD800 + pick(0x400)));
                    s += hex4(static_cast<std::uint32_t>(0xDC00 + pick(0x400)));
                    break;
                case 2:
                    if (chance(8)) s += hex4(static_cast<std::uint32_t>(0xD800 + pick(0x800)));
                    break;
                default:
                    s += kPlain[pick(std::size(kPlain))];
            }
        }
        return s;
    }

    std::string string() { return std::string("\"").append(string_content()).append("\""); }

    // Object keys are distinct, so that values can be compared member by
    // member.
    std::string value(int depth) {
        if (depth < 6 && chance(3)) return container(depth);
        switch (pick(6)) {
            case 0:
                return chance(2) ? "true" : (chance(2) ? "false" : "null");
            case 1:
            case 2:
                return number();
            default:
                return string();
        }
    }

    std::string container(int depth) {
        const bool is_object = chance(2);
        std::string s = is_object ? "{" : "[";
        const std::size_t n = pick(5);
        for (std::size_t i = 0; i < n; ++i) {
            if (i) s += ",";
            s += space();
            if (is_object) {
                s.append("\"k").append(std::to_string(i)).append(string_content());
                s.append("\"").append(space()).append(":").append(space());
            }
            s += value(depth + 1) + space();
        }
        return s + (is_object ? "}" : "]");
    }

    // Sometimes wrapped near the nesting limit.
    std::string document() {
        std::string v = value(0);
        if (chance(15)) {
            const std::size_t levels = 120 + pick(10);
            v = std::string(levels, '[') + v + std::string(levels, ']');
        }
        return space() + v + space();
    }

    std::string mutate(std::string s) {
        static constexpr std::string_view kBytes =
            "{}[],:\"\\ \t\f\v0123456789-+.eEtrufalsn/xu\x01";
        for (std::size_t n = 1 + pick(3); n > 0; --n) {
            const std::size_t at = s.empty() ? 0 : pick(s.size() + 1);
            switch (pick(6)) {
                case 0:
                    if (at < s.size()) s.erase(at, 1);
                    break;
                case 1:
                    s.insert(at, 1, kBytes[pick(kBytes.size())]);
                    break;
                case 2:
                    if (at < s.size()) s[at] = kBytes[pick(kBytes.size())];
                    break;
                case 3:
                    s.resize(at);
                    break;
                case 4:
                    if (at < s.size()) s.insert(at, s.substr(at, 1 + pick(8)));
                    break;
                default:
                    if (at + 1 < s.size()) std::swap(s[at], s[at + 1]);
            }
        }
        return s;
    }

  private:
    std::mt19937_64 rng_;
};

// A frame around a value and a message: the value as an ignored member.
const std::string kFrameHead =
    R"({"kind":"plugin_cli_failure","protocol_version":1,"code":"c","exit_code":0,"message":)";

std::string frame_around(std::string_view value, std::string_view message = "\"m\"") {
    return std::string(kFrameHead).append(message).append(",\"note\":").append(value) + "}";
}

std::string ours(std::string line) {
    return testing::describe_frame(std::move(line));
}

// The same description of the frame that the other parser's value holds,
// for a line ours accepted: fields looked up by key in the object form, by
// position in the array form.
std::string number_text(const bj::value* v) {
    if (v == nullptr) return "?";
    if (v->is_int64()) return std::to_string(v->get_int64());
    if (v->is_uint64()) return std::to_string(v->get_uint64());
    return "?";
}

std::string text_of(const bj::value* v) {
    return v != nullptr && v->is_string() ? std::string(v->get_string()) : "?";
}

std::string channel_of(const bj::value* v) {
    if (v != nullptr && v->is_object() && v->get_object().size() == 1) {
        return std::string(v->get_object().begin()->key());
    }
    return text_of(v);
}

std::string others(const bj::value& line) {
    std::string tag;
    const auto field = [&](std::size_t position, std::string_view key) -> const bj::value* {
        if (line.is_array()) {
            const auto& a = line.get_array();
            return position + 1 < a.size() ? &a[position + 1] : nullptr;
        }
        return line.get_object().if_contains(key);
    };
    if (line.is_array()) {
        tag = text_of(line.get_array().empty() ? nullptr : &line.get_array()[0]);
    } else if (line.is_object()) {
        tag = text_of(line.get_object().if_contains("kind"));
    }
    const std::string version = number_text(field(0, "protocol_version"));
    if (tag == "plugin_cli_output") {
        return "output v" + version + " " + channel_of(field(1, "channel")) + " " +
               text_of(field(2, "bytes_base64"));
    }
    if (tag == "plugin_cli_terminal") {
        return "terminal v" + version + " exit " + number_text(field(1, "exit_code"));
    }
    return "failure v" + version + " code " + text_of(field(1, "code")) + " message " +
           text_of(field(2, "message")) + " exit " + number_text(field(3, "exit_code"));
}

// Compares the verdicts on `line`; where both accept, the frames must agree.
// Where only the other parser accepts, its value must hold a number ours
// deliberately refuses, or, if `frame_rules_may_refuse`, no frame.
void compare(const std::string& line, bool frame_rules_may_refuse) {
    const std::string decoded = ours(line);
    const bool accepted = !decoded.starts_with("rejected");
    const Verdict other = other_parser(line);
    if (accepted && other.accepted) {
        EXPECT_EQ(decoded, others(other.value)) << line;
    } else if (accepted != other.accepted && !deliberate_difference(accepted, other)) {
        EXPECT_TRUE(!accepted && frame_rules_may_refuse)
            << "ours " << decoded << ", other " << other.error.message() << ": " << line;
    }
}

TEST(FrameOracle, GeneratedValuesAgree) {
    Generator gen(0xC0FFEE);
    for (int i = 0; i < 3'000; ++i)
        compare(frame_around(gen.document(), gen.string()), false);
}

TEST(FrameOracle, MutatedValuesAgree) {
    Generator gen(0xBADC0DE);
    int compared = 0;
    for (int i = 0; i < 6'000; ++i) {
        const std::string text = frame_around(gen.mutate(gen.document()));
        if (!is_valid_utf8(text)) continue;
        compare(text, false);
        ++compared;
    }
    EXPECT_GT(compared, 5'000);
}

TEST(FrameOracle, MutatedFrameLinesAgree) {
    Generator gen(0xF4A3E);
    const std::string frames[] = {
        R"({"kind":"plugin_cli_output","protocol_version":1,"channel":{"stderr":{}},"bytes_base64":"aGVsbG8K"})",
        R"({"exit_code":3,"protocol_version":1,"kind":"plugin_cli_terminal","note":[1,{"a":null}]})",
        R"(["plugin_cli_failure",1,"denied","permission\u0020denied\n",77])",
        R"([ "plugin_cli_output" , 1 , "stdout" , "QQ==" ])",
    };
    int accepted = 0;
    for (int i = 0; i < 4'000; ++i) {
        const std::string text = gen.mutate(frames[gen.pick(std::size(frames))]);
        if (!is_valid_utf8(text)) continue;
        compare(text, true);
        accepted += !ours(text).starts_with("rejected");
    }
    EXPECT_GT(accepted, 100);
}

TEST(FrameOracle, ExplainedDifferencesReallyDiffer) {
    // Guards the list at the top: if the other parser changed its mind, the
    // comment would mislead.
    for (const std::string& huge : {"1e400"s, "-1e400"s, std::string(400, '9')}) {
        EXPECT_TRUE(ours(frame_around(huge)).starts_with("rejected"));
        EXPECT_TRUE(other_parser(huge).accepted) << huge;
        EXPECT_TRUE(deliberate_difference(false, other_parser(huge)));
    }
    for (const std::string zero : {"0e9999999999", "1e-9999999999"}) {
        EXPECT_FALSE(ours(frame_around(zero)).starts_with("rejected"));
        EXPECT_EQ(other_parser(zero).error, bj::error::exponent_overflow) << zero;
    }
    const std::string deep(127, '['), deeper(128, '[');
    EXPECT_TRUE(other_parser(deep + std::string(127, ']')).accepted);
    EXPECT_FALSE(other_parser(deeper + std::string(128, ']')).accepted);
}

}  // namespace
}  // namespace velmot
