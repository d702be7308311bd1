#include "bridge/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace velmot {
namespace {

using namespace std::string_literals;

// Joins pieces without `"literal" + std::string`, which trips a false
// overlap warning in one of the supported compilers.
std::string cat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view piece : pieces)
        out.append(piece);
    return out;
}

std::string nested_arrays(std::size_t levels) {
    return std::string(levels, '[') + std::string(levels, ']');
}

// ---- The wide scan for the end of plain string content ----

std::size_t reference_stop(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\' || c < 0x20) return i;
    }
    return s.size();
}

TEST(JsonStringScan, AgreesWithByteByByteScanOnRandomInput) {
    std::mt19937_64 rng(20240611);
    // Bytes next to the stop set, on both sides, and high bytes, which a
    // signed comparison would mistake for control characters.
    const std::string near = "\x1f\x20!#[]\x7f\x80\xff\x9f\xe0"s + '\0';
    for (int round = 0; round < 20'000; ++round) {
        const std::size_t size = rng() % 150;
        std::string s(size + 7, 'a');
        for (char& c : s) {
            c = rng() % 3 == 0 ? near[rng() % near.size()] : static_cast<char>('A' + rng() % 26);
        }
        const std::size_t stops = rng() % 3;
        for (std::size_t k = 0; k < stops && size > 0; ++k) {
            s[rng() % (size + 7)] = "\"\\\n\t\x01"[rng() % 5];
        }
        // Vary the alignment of the first byte as well.
        const std::string_view view = std::string_view(s).substr(rng() % 7, size);
        ASSERT_EQ(find_string_stop(view), reference_stop(view)) << round;
    }
}

TEST(JsonStringScan, FindsTheStopInEveryPositionOfALongRun) {
    for (const char stop : {'"', '\\', '\0', '\x1f'}) {
        for (std::size_t at = 0; at < 140; ++at) {
            std::string s(140, '\xc3');
            s[at] = stop;
            EXPECT_EQ(find_string_stop(s), at) << int(stop) << " at " << at;
        }
    }
    EXPECT_EQ(find_string_stop(std::string(100'000, 'x')), 100'000u);
}

// ---- Grammar ----

TEST(JsonGrammar, AcceptsWellFormedValues) {
    for (const std::string& text :
         std::vector<std::string>{"null",
                                  "true",
                                  "false",
                                  "0",
                                  "-0",
                                  "12",
                                  "1.5",
                                  "-1.25e+3",
                                  "1E5",
                                  "1e-5",
                                  "\"\"",
                                  "\"a\"",
                                  "[]",
                                  "{}",
                                  "[1,[2,{}],\"x\"]",
                                  "{\"a\":{\"b\":[]},\"c\":null}",
                                  " \t\r\n[ 1 , 2 ]\r\n\t ",
                                  "{ \"a\" : 1 }",
                                  "\"\x7f\xc3\xa9\xf0\x9f\x98\x80\"",
                                  "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0041\\uD83D\\uDE00\"",
                                  "\"\\u0000\"",
                                  "{\"a\":1,\"a\":2}"}) {
        EXPECT_TRUE(parse_json(text).has_value()) << text;
    }
}

TEST(JsonGrammar, RejectsMalformedValues) {
    for (const std::string& text : std::vector<std::string>{"",
                                                            " ",
                                                            "nul",
                                                            "NULL",
                                                            "True",
                                                            "tru",
                                                            "nulll",
                                                            "[1,]",
                                                            "[,1]",
                                                            "[1 2]",
                                                            "[",
                                                            "]",
                                                            "[1",
                                                            "{\"a\":1,}",
                                                            "{\"a\" 1}",
                                                            "{\"a\":}",
                                                            "{a:1}",
                                                            "{1:1}",
                                                            "{\"a\":1 \"b\":2}",
                                                            "{\"a\":1",
                                                            "\"abc",
                                                            "1 2",
                                                            "[] []",
                                                            "{},",
                                                            "01",
                                                            "-01",
                                                            "+1",
                                                            "1.",
                                                            ".5",
                                                            "-",
                                                            "-.5",
                                                            "1e",
                                                            "1e+",
                                                            "1E-",
                                                            "0x10",
                                                            "1.e5",
                                                            "\f1",
                                                            "1\f",
                                                            "\v[]",
                                                            "\xc2\xa0[]",
                                                            "\xef\xbb\xbf[]",
                                                            "[1,\f2]",
                                                            "/*c*/1",
                                                            "Infinity",
                                                            "NaN",
                                                            "-Infinity",
                                                            "'a'",
                                                            std::string("[1]\0", 4),
                                                            std::string("[\0]", 3)}) {
        EXPECT_FALSE(parse_json(text).has_value()) << text;
    }
}

TEST(JsonGrammar, KeepsDuplicateMembersInOrder) {
    const auto value = parse_json(R"({"a":1,"b":2,"a":3})");
    ASSERT_TRUE(value);
    const auto& members = std::get<BufferedValue::Object>(value->data);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].key.view(), "a");
    EXPECT_EQ(std::get<std::uint64_t>(members[0].value.data), 1u);
    EXPECT_EQ(members[2].key.view(), "a");
    EXPECT_EQ(std::get<std::uint64_t>(members[2].value.data), 3u);
}

TEST(JsonGrammar, NestsUpTo127Levels) {
    EXPECT_TRUE(parse_json(nested_arrays(127)));
    EXPECT_FALSE(parse_json(nested_arrays(128)));
    // Objects and arrays count alike, wherever the deep part sits.
    std::string mixed;
    for (int i = 0; i < 64; ++i)
        mixed += "{\"k\":[";
    std::string closing;
    for (int i = 0; i < 64; ++i)
        closing += "]}";
    EXPECT_FALSE(parse_json(mixed + closing));                                     // 128 levels
    EXPECT_TRUE(parse_json(cat({"[", mixed.substr(6), closing.substr(2), "]"})));  // 127
    EXPECT_FALSE(parse_json(cat({"[1,[2],", nested_arrays(127), "]"})));
    EXPECT_TRUE(parse_json(cat({"[1,[2],", nested_arrays(126), ",", nested_arrays(126), "]"})));
}

// ---- Numbers ----

TEST(JsonNumbers, DigitOnlyValuesThatFitAreExact) {
    const std::vector<std::pair<std::string, std::uint64_t>> cases = {
        {"0", 0},
        {"255", 255},
        {"9007199254740993", 9007199254740993ull},
        {"18446744073709551615", UINT64_MAX}};
    for (const auto& [text, expected] : cases) {
        const auto value = parse_json(text);
        ASSERT_TRUE(value) << text;
        const auto* exact = std::get_if<std::uint64_t>(&value->data);
        ASSERT_NE(exact, nullptr) << text;
        EXPECT_EQ(*exact, expected);
    }
}

TEST(JsonNumbers, EveryOtherNumberIsADouble) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"18446744073709551616", 18446744073709551616.0},
        {"-0", -0.0},
        {"0.0", 0.0},
        {"1e0", 1.0},
        {"2E1", 20.0},
        {"-1", -1.0},
        {"1.5", 1.5},
        {"0.1", 0.1},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"4.9e-324", std::numeric_limits<double>::denorm_min()},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"0e999999999999999999999999", 0.0},
        {"1e-99999999999999999999999", 0.0},
        // The first significant digit, not the exponent alone, sets the scale.
        {cat({"0.", std::string(400, '0'), "1e400"}), 0.1},
        {cat({"1", std::string(400, '0'), "e-400"}), 1.0},
        {cat({"0.000", std::string(200, '0'), "e999"}), 0.0}};
    for (const auto& [text, expected] : cases) {
        const auto value = parse_json(text);
        ASSERT_TRUE(value) << text;
        const auto* number = std::get_if<double>(&value->data);
        ASSERT_NE(number, nullptr) << text;
        EXPECT_EQ(*number, expected) << text;
        EXPECT_EQ(std::signbit(*number), std::signbit(expected)) << text;
    }
}

TEST(JsonNumbers, RejectsValuesTooLargeToBeFinite) {
    for (const std::string& text : std::vector<std::string>{
             "1e400", "-1e400", "1.8e308", "1.7976931348623159e308", "1e99999999999999999999999",
             std::string(400, '9'), std::string(309, '9'), cat({"-", std::string(400, '1')}),
             "0.00001e314", "[0,1e400]", "{\"a\":1e309}"}) {
        EXPECT_FALSE(parse_json(text)) << text;
    }
}

// ---- Strings ----

std::string decoded(std::string_view json) {
    const auto value = parse_json(json);
    if (!value) return "<rejected>";
    return std::string(std::get<JsonText>(value->data).view());
}

TEST(JsonStrings, DecodesEscapes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("plain")", "plain"},
        {R"("\"\\\/")", "\"\\/"},
        {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
        {R"("\u0041\u00e9\u00E9\u20AC")", "A\xc3\xa9\xc3\xa9\xe2\x82\xac"},
        {R"("\u0000")", "\0"s},
        {R"("a\u0000b")", "a\0b"s},
        {R"("\uD83D\uDE00")", "\xf0\x9f\x98\x80"},
        {R"("\udbff\udfff")", "\xf4\x8f\xbf\xbf"},
        {R"("\ud800\udc00")", "\xf0\x90\x80\x80"},
        {R"("x\ny\"z")", "x\ny\"z"},
        {"\"\xc3\xa9\x7f\"", "\xc3\xa9\x7f"}};
    for (const auto& [json, text] : cases)
        EXPECT_EQ(decoded(json), text) << json;
}

TEST(JsonStrings, RejectsBadEscapesSurrogatesAndRawControls) {
    for (const std::string& json : std::vector<std::string>{
             R"("\x41")",          R"("\a")",           R"("\U0041")",    R"("\u041")",
             R"("\u04")",          R"("\u")",           R"("\u004G")",    R"("\)",
             R"("\u0041)",         R"("\ud800")",       R"("\udc00")",    R"("\udfff")",
             R"("\ud800\u0041")",  R"("\ud800\ud800")", R"("\ud800x")",   R"("\ud800\n")",
             R"("\ud800\\udc00")", R"("\udc00\ud800")", "\"a\tb\"",       "\"a\nb\"",
             "\"\x1f\"",           "\"a\0b\""s,         "\"unterminated", "\"",
             "\"abc\\\""}) {
        EXPECT_EQ(decoded(json), "<rejected>") << json;
    }
}

TEST(JsonStrings, PlainTextRefersIntoTheLineAndEscapedTextIsOwned) {
    const std::string line = R"(["abc","a\nb"])";
    const auto value = parse_json(line);
    ASSERT_TRUE(value);
    const auto& elements = std::get<BufferedValue::Array>(value->data);
    EXPECT_EQ(std::get<JsonText>(elements[0].data).view().data(), line.data() + 2);
    const std::string_view escaped = std::get<JsonText>(elements[1].data).view();
    EXPECT_EQ(escaped, "a\nb");
    EXPECT_FALSE(escaped.data() >= line.data() && escaped.data() < line.data() + line.size());
}

TEST(JsonStrings, LongTextsWithEscapesAtEveryAlignment) {
    for (std::size_t at = 0; at < 40; ++at) {
        const std::string head(at, 'q'), tail(100 - at, 'q');
        EXPECT_EQ(decoded(cat({"\"", head, "\\u00e9", tail, "\""})), cat({head, "\xc3\xa9", tail}))
            << at;
        EXPECT_EQ(decoded(cat({"\"", head, "\\u00e9\t", tail, "\""})), "<rejected>") << at;
    }
}

}  // namespace
}  // namespace velmot
