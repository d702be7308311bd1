#include "bridge/bridge_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/frame_text.h"

namespace velmot {
namespace {

using namespace std::string_literals;

std::string describe(std::string line) {
    return testing::describe_frame(std::move(line));
}

struct Case {
    std::string line;
    std::string expected;
};

void expect_decodes(const std::vector<Case>& cases) {
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(describe(line), expected) << line;
    }
}

// Each line is rejected; for `reason`, for that reason.
void expect_rejected(const std::vector<std::string>& lines, std::string_view reason = "") {
    for (const auto& line : lines) {
        const std::string said = describe(line);
        if (reason.empty()) {
            EXPECT_TRUE(said.starts_with("rejected: ")) << said << ": " << line;
        } else {
            EXPECT_EQ(said, "rejected: " + std::string(reason)) << line;
        }
    }
}

const std::string kTerminalFields = R"("protocol_version":1,"exit_code":0)";

std::string terminal_with(const std::string& extra_member) {
    return R"({"kind":"plugin_cli_terminal",)" + kTerminalFields + "," + extra_member + "}";
}

std::string repeated(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out.append(piece);
    return out;
}

std::string nested_arrays(std::size_t levels) {
    return std::string(levels, '[') + std::string(levels, ']');
}

TEST(BridgeFrame, DecodesBothWireForms) {
    expect_decodes({
        {R"({"kind":"plugin_cli_output","protocol_version":1,"channel":"stdout","bytes_base64":"aGVsbG8K"})",
         "output v1 stdout aGVsbG8K"},
        {R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":0})",
         "terminal v1 exit 0"},
        {R"({"kind":"plugin_cli_failure","protocol_version":1,"code":"denied","message":"permission denied","exit_code":77})",
         "failure v1 code denied message permission denied exit 77"},
        {R"({"exit_code":3,"protocol_version":1,"kind":"plugin_cli_terminal","note":[1,{"a":null}]})",
         "terminal v1 exit 3"},
        {R"(["plugin_cli_output",1,"stderr","aGVsbG8K"])", "output v1 stderr aGVsbG8K"},
        {R"(["plugin_cli_terminal",1,0])", "terminal v1 exit 0"},
        {R"(["plugin_cli_failure",1,"denied","permission denied",77])",
         "failure v1 code denied message permission denied exit 77"},
    });
}

TEST(BridgeFrame, WhitespaceAndLineStructure) {
    expect_decodes({
        {" \t\r[\"plugin_cli_terminal\",1,0]", "terminal v1 exit 0"},
        {"{\t\"kind\"\n:\r\"plugin_cli_terminal\" , \"protocol_version\":1,\"exit_code\" :0 }",
         "terminal v1 exit 0"},
        {"[ \"plugin_cli_terminal\" ,\t1 , 0 ]", "terminal v1 exit 0"},
    });
    const std::string frame = R"(["plugin_cli_terminal",1,0])";
    expect_rejected({"", " ", "\t", frame + frame, frame + ",", frame + " x", frame + "\f",
                     "\f" + frame, "\v" + frame, "\xc2\xa0" + frame, "\xef\xbb\xbf" + frame,
                     R"("plugin_cli_terminal")", "0", "1", "true", "false", "null",
                     R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":0})"
                     R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":0})"});
}

TEST(BridgeFrame, KindRules) {
    expect_decodes({
        // Keys and tags are compared after escape decoding.
        {R"({"\u006bind":"plugin_cli_terminal","protocol_version":1,"exit_code":4})",
         "terminal v1 exit 4"},
        {R"({"kind":"plugin\u005fcli_terminal","protocol_version":1,"exit_code":4})",
         "terminal v1 exit 4"},
        {R"(["plugin_cli_t\u0065rminal",1,4])", "terminal v1 exit 4"},
        // Other variants' keys and keys differing only in case are ignored.
        {R"({"kind":"plugin_cli_terminal","code":5,"Kind":"x","Exit_code":"y","protocol_version":1,"exit_code":4,"channel":null})",
         "terminal v1 exit 4"},
    });
    expect_rejected({
        "{}",
        R"({"kind":"plugin_cli_terminal"})",
        R"({"Kind":"plugin_cli_terminal",)" + kTerminalFields + "}",
        R"({"KIND":"plugin_cli_terminal",)" + kTerminalFields + "}",
        R"({"kind":"plugin_cli_terminal","kind":"plugin_cli_terminal",)" + kTerminalFields + "}",
        R"({"kind":"plugin_cli_terminal",)" + kTerminalFields +
            R"(,"k\u0069nd":"plugin_cli_terminal"})",
        // The second "kind" fails before its broken value is looked at.
        R"({"kind":"plugin_cli_terminal",)" + kTerminalFields + R"(,"kind":})",
        R"({"kind":"Plugin_cli_terminal",)" + kTerminalFields + "}",
        R"({"kind":"PLUGIN_CLI_TERMINAL",)" + kTerminalFields + "}",
        R"({"kind":" plugin_cli_terminal",)" + kTerminalFields + "}",
        R"({"kind":"plugin_cli_terminal ",)" + kTerminalFields + "}",
        R"({"kind":"plugin_cli_other",)" + kTerminalFields + "}",
        R"({"kind":0,)" + kTerminalFields + "}",
        R"({"kind":null,)" + kTerminalFields + "}",
        R"({"kind":["plugin_cli_terminal"],)" + kTerminalFields + "}",
        "[]",
        R"(["plugin_cli_terminal"])",
        R"([0,1,0])",
        R"([null,1,0])",
        R"(["PLUGIN_CLI_TERMINAL",1,0])",
        R"([["plugin_cli_terminal"],1,0])",
    });
}

TEST(BridgeFrame, FieldsAreRequiredOnceAndTypeChecked) {
    expect_decodes({
        {R"({"kind":"plugin_cli_terminal","protocol_version":2,"exit_code":255})",
         "terminal v2 exit 255"},
        {R"({"kind":"plugin_cli_terminal","protocol_version":0,"exit_code":0})",
         "terminal v0 exit 0"},
        {R"({"kind":"plugin_cli_output","protocol_version":1,"channel":"stdout","bytes_base64":""})",
         "output v1 stdout "},
        {R"({"kind":"plugin_cli_failure","protocol_version":1,"code":"","message":"","exit_code":0})",
         "failure v1 code  message  exit 0"},
        {R"({"kind":"plugin_cli_failure","protocol_version":1,"code":"Not-Valid!","message":"caf\u00e9 \u00e9t\u00e9\n2nd","exit_code":1})",
         "failure v1 code Not-Valid! message caf\xc3\xa9 \xc3\xa9t\xc3\xa9\n2nd exit 1"},
        {"{\"kind\":\"plugin_cli_failure\",\"protocol_version\":1,\"code\":\"x\",\"message\":"
         "\"\xe6\x97\xa5\xf0\x9f\x98\x80\",\"exit_code\":1}",
         "failure v1 code x message \xe6\x97\xa5\xf0\x9f\x98\x80 exit 1"},
        {R"(["plugin_cli_failure",1,"a\u0000b","",9])", "failure v1 code a\0b message  exit 9"s},
        // Duplicates of keys the variant does not read are no fault.
        {R"({"kind":"plugin_cli_terminal","code":1,"code":2,)" + kTerminalFields + "}",
         "terminal v1 exit 0"},
    });
    const std::string output_head = R"({"kind":"plugin_cli_output","protocol_version":1,)";
    const std::string failure_head = R"({"kind":"plugin_cli_failure","protocol_version":1,)";
    std::vector<std::string> rejected = {
        R"({"kind":"plugin_cli_terminal","protocol_version":1})",
        R"({"kind":"plugin_cli_terminal","exit_code":1})",
        R"({"kind":"plugin_cli_terminal",)" + kTerminalFields + R"(,"exit_code":0})",
        R"({"kind":"plugin_cli_terminal",)" + kTerminalFields + R"(,"protocol_version":2})",
        output_head + R"("channel":"stdout"})",
        output_head + R"("bytes_base64":""})",
        failure_head + R"("code":"c","exit_code":1})",
        failure_head + R"("code":"c","message":"m","message":"m","exit_code":1})",
        R"(["plugin_cli_terminal",1])",
        R"(["plugin_cli_terminal",1,0,0])",
        R"(["plugin_cli_output",1,"stdout"])",
        R"(["plugin_cli_output",1,"stdout","",""])",
        R"(["plugin_cli_failure",1,"c","m"])",
        R"(["plugin_cli_terminal",1,0,])",
        R"(["plugin_cli_terminal",,1,0])",
    };
    expect_rejected(rejected);
    // Unsigned 8-bit fields take digit-only numbers from 0 to 255.
    std::vector<std::string> not_bytes;
    for (const std::string bad : {"256", "-1", "-0", "0.0", "1.0", "1e0", "2E1", "1000000000000",
                                  "18446744073709551616", "\"0\"", "true", "null", "[0]", "{}"}) {
        not_bytes.push_back(R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":)" +
                            bad + "}");
        not_bytes.push_back(R"(["plugin_cli_terminal",)" + bad + ",0]");
    }
    expect_rejected(not_bytes, "FrameFieldNotByte");
    // Texts take strings only.
    std::vector<std::string> not_strings;
    for (const std::string bad : {"null", "0", "false", "[]", "{}", "[\"a\"]"}) {
        not_strings.push_back(output_head + R"("channel":"stdout","bytes_base64":)" + bad + "}");
        not_strings.push_back(failure_head + R"("code":)" + bad +
                              R"(,"message":"","exit_code":1})");
        not_strings.push_back(R"(["plugin_cli_failure",1,"",)" + bad + ",1]");
    }
    expect_rejected(not_strings, "FrameFieldNotString");
}

TEST(BridgeFrame, ChannelEncodings) {
    const auto object_line = [](const std::string& channel) {
        return R"({"kind":"plugin_cli_output","protocol_version":1,"channel":)" + channel +
               R"(,"bytes_base64":"QQ=="})";
    };
    const auto array_line = [](const std::string& channel) {
        return R"(["plugin_cli_output",1,)" + channel + R"(,"QQ=="])";
    };
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {R"("stdout")", "stdout"},        {R"("stderr")", "stderr"},
        {R"({"stdout":null})", "stdout"}, {R"({"stdout":{}})", "stdout"},
        {R"({"stderr":null})", "stderr"}, {R"({ "stderr" : { } })", "stderr"},
        {R"("std\u006fut")", "stdout"},   {R"({"\u0073tderr":null})", "stderr"},
    };
    for (const auto& [channel, name] : accepted) {
        EXPECT_EQ(describe(object_line(channel)), "output v1 " + name + " QQ==");
        EXPECT_EQ(describe(array_line(channel)), "output v1 " + name + " QQ==");
    }
    for (const std::string bad : {R"("STDOUT")",
                                  R"("Stdout")",
                                  R"(" stdout")",
                                  R"("stdout ")",
                                  R"("")",
                                  R"("out")",
                                  R"({})",
                                  R"({"stderr":null,"stderr":null})",
                                  R"({"stdout":null,"stderr":null})",
                                  R"({"stderr":[]})",
                                  R"({"stdout":0})",
                                  R"({"stdout":false})",
                                  R"({"stdout":"x"})",
                                  R"({"stdout":{"a":1}})",
                                  R"({"Stdout":null})",
                                  R"({"other":null})",
                                  "0",
                                  "1",
                                  "true",
                                  "null",
                                  R"(["stdout"])",
                                  "[]"}) {
        expect_rejected({object_line(bad), array_line(bad)}, "FrameFieldNotChannel");
    }
}

TEST(BridgeFrame, IgnoredMembersMustStillBeWellFormed) {
    for (const std::string fine :
         {R"("n":-0)", R"("n":1e-400)", R"("n":1.5)", R"("n":18446744073709551616)",
          R"("s":"\ud83d\ude00\u0000")", "\"s\":\"\xc3\xa9\x7f\"", R"("a":[1,{"b":[null,true]}])",
          "\t\"t\"\t:\t1\t", R"("kind_":1)", R"("":{})"}) {
        EXPECT_EQ(describe(terminal_with(fine)), "terminal v1 exit 0") << fine;
    }
    expect_rejected({
        terminal_with("\"s\":\"a\tb\""),
        terminal_with(R"("s":"\ud800")"),
        terminal_with(R"("s":"\udc00\ud800")"),
        terminal_with(R"("s":"\x41")"),
        terminal_with(R"("n":1e400)"),
        terminal_with(R"("n":-1e400)"),
        terminal_with("\"n\":" + std::string(400, '7')),
        terminal_with(R"("n":01)"),
        terminal_with(R"("n":1.)"),
        terminal_with(R"("n":.5)"),
        terminal_with(R"("n":+1)"),
        terminal_with(R"("a":[1,])"),
        terminal_with(R"("o":{"a":1,})"),
        terminal_with(R"("o":{"a" 1})"),
        terminal_with(R"("l":nul)"),
        terminal_with(R"("l":True)"),
        terminal_with(R"(1:1)"),
        terminal_with("\"w\":\f1"),
        R"(["plugin_cli_terminal",1,0,1e400])",
    });
}

TEST(BridgeFrame, NestingCountsTheFrameItselfAsLevelOne) {
    EXPECT_EQ(describe(terminal_with("\"deep\":" + nested_arrays(126))), "terminal v1 exit 0");
    EXPECT_EQ(describe(terminal_with("\"deep\":" + nested_arrays(127))), "rejected: FrameTooDeep");
    // A channel object sits at level 2, its empty object at level 3.
    EXPECT_EQ(describe(R"(["plugin_cli_output",1,{"stdout":{}},"QQ=="])"), "output v1 stdout QQ==");
    // In the array form a value past the last field is one too many, whatever
    // its depth.
    EXPECT_EQ(
        describe(R"(["plugin_cli_terminal",1,0)" + std::string(",") + nested_arrays(127) + "]"),
        "rejected: FrameArrayLength");
    // Objects and arrays count alike, before "kind" as after it.
    const std::string mixed = repeated("{\"k\":[", 63) + repeated("]}", 63);
    const std::string tail = R"("kind":"plugin_cli_terminal",)" + kTerminalFields + "}";
    EXPECT_EQ(describe("{\"deep\":" + mixed + "," + tail), "terminal v1 exit 0");
    EXPECT_EQ(describe("{\"deep\":[" + mixed + "]," + tail), "rejected: FrameTooDeep");
}

// ---- The JSON rules, through the values a frame carries or ignores ----

// The magnitude that rounds to infinity in double precision, 2^1024 - 2^970,
// with its first digit standing for 10^308.
const std::string kOverflowLimit =
    "1797693134862315807937289714053034150799341327100378269361737789804449682927647509466490"
    "1797758720709633028641669288791094655554785194040263065748867150582068190890200070838367"
    "6273854845817711531764475730270069855571366959622842914819860834936475292719074168444365"
    "510704342711559699508093042880177904174497792";

TEST(BridgeFrame, IgnoredValuesFollowTheJsonGrammar) {
    const std::vector<std::string> accepted = {
        "null", "true", "false", "0", "12", "-1.25e+3", "1E5", "1e-5", "\"\"", "[]", "{}",
        "[1,[2,{}],\"x\"]", "{\"a\":{\"b\":[]},\"c\":null}", " \r\n[ 1 , 2 ]\r\n ",
        "{\"a\":1,\"a\":2}", "18446744073709551615", "1.7976931348623157e308", "4.9e-324",
        "0e999999999999999999999999", "1e-99999999999999999999999",
        // The first significant digit, not the exponent alone, sets the scale.
        "0." + std::string(400, '0') + "1e400", "1" + std::string(400, '0') + "e-400",
        "0.000" + std::string(200, '0') + "e999",
        // Just below the magnitude that rounds to infinity, 2^1024 - 2^970.
        "1.7976931348623158e308", kOverflowLimit.substr(0, 308).append("1.9").append(400, '9')};
    for (const std::string& value : accepted) {
        EXPECT_EQ(describe(terminal_with("\"x\":" + value)), "terminal v1 exit 0") << value;
    }
    const std::vector<std::string> rejected = {
        "",
        "NULL",
        "tru",
        "nulll",
        "[,1]",
        "[1 2]",
        "[",
        "]",
        "[1",
        "{\"a\":}",
        "{a:1}",
        "{\"a\":1 \"b\":2}",
        "{\"a\":1",
        "\"abc",
        "1 2",
        "[] []",
        "-01",
        "-",
        "-.5",
        "1e",
        "1e+",
        "1E-",
        "0x10",
        "1.e5",
        "[1,\f2]",
        "/*c*/1",
        "Infinity",
        "NaN",
        "'a'",
        std::string("[1]\0", 4),
        "1.8e308",
        "1.7976931348623159e308",
        "1e99999999999999999999999",
        std::string(309, '9'),
        "-" + std::string(400, '1'),
        "0.00001e314",
        "[0,1e400]",
        "{\"a\":1e309}",
        std::string("-0.00").append(kOverflowLimit).append("e311"),
        std::string(kOverflowLimit).append(".").append(400, '0')};
    for (const std::string& value : rejected) {
        EXPECT_EQ(describe(terminal_with("\"x\":" + value)), "rejected: FrameNotJson") << value;
    }
}

// A string is decoded where a field takes it, and only checked where it is
// a key or an ignored value; every way keeps the same rules.
TEST(BridgeFrame, StringEscapes) {
    const std::vector<std::pair<std::string, std::string>> decoded = {
        {R"(\"\\\/)", "\"\\/"},
        {R"(\b\f\n\r\t)", "\b\f\n\r\t"},
        {R"(\u0041\u00e9\u00E9\u20AC)", "A\xc3\xa9\xc3\xa9\xe2\x82\xac"},
        {R"(a\u0000b)", "a\0b"s},
        {R"(\uD83D\uDE00\udbff\udfff\ud800\udc00)",
         "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\xf0\x90\x80\x80"},
        {"\xc3\xa9\x7f", "\xc3\xa9\x7f"},
        // Escapes at every alignment of the wide scan.
        {repeated("q", 15) + R"(\u00e9)" + repeated("q", 85),
         repeated("q", 15) + "\xc3\xa9" + repeated("q", 85)},
        {repeated("q", 33) + R"(\n)" + repeated("q", 70) + R"(\/)",
         repeated("q", 33) + "\n" + repeated("q", 70) + "/"},
    };
    for (const auto& [json, text] : decoded) {
        EXPECT_EQ(describe(R"(["plugin_cli_failure",1,"c",")" + json + R"(",0])"),
                  "failure v1 code c message " + text + " exit 0")
            << json;
    }
    const std::vector<std::string> rejected = {R"(\x41)",
                                               R"(\a)",
                                               R"(\U0041)",
                                               R"(\u041)",
                                               R"(\u004G)",
                                               R"(\)",
                                               R"(\ud800)",
                                               R"(\udfff)",
                                               R"(\ud800\u0041)",
                                               R"(\ud800\ud800)",
                                               R"(\ud800x)",
                                               R"(\ud800\\udc00)",
                                               R"(\udc00\ud800)",
                                               "a\nb",
                                               "\x1f",
                                               "a\0b"s,
                                               repeated("q", 40) + "\t" + R"(\n)"};
    for (const std::string& json : rejected) {
        // A field's text is refused as the field's; elsewhere the line is no JSON.
        expect_rejected({R"(["plugin_cli_failure",1,"c",")" + json + R"(",0])"},
                        "FrameFieldNotString");
        expect_rejected(
            {terminal_with(R"("x":")" + json + "\""),
             R"({")" + json + R"(":0,"kind":"plugin_cli_terminal",)" + kTerminalFields + "}"},
            "FrameNotJson");
    }
}

// ---- Generated frames: any member order, whitespace, escapes and ignored
// members decode to the frame that was written. ----

class FrameWriter {
  public:
    explicit FrameWriter(std::uint64_t seed) : rng_(seed) {}

    std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }

    std::string space() {
        static constexpr std::string_view kSpaces[] = {"", "", "", " ", "\t", "\r\n", "  "};
        return std::string(kSpaces[pick(std::size(kSpaces))]);
    }

    // Writes `text` as a JSON string, escaping some characters needlessly.
    std::string quoted(std::string_view text) {
        std::string out = "\"";
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\' || u < 0x20 || (u < 0x80 && pick(8) == 0)) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[u >> 4];
                out += kHex[u & 0xF];
            } else {
                out += c;
            }
        }
        return out + "\"";
    }

    std::string random_text() {
        static constexpr std::string_view kPieces[] = {"a",
                                                       "Z",
                                                       "_",
                                                       " ",
                                                       "\n",
                                                       "\"",
                                                       "\\",
                                                       "/",
                                                       "\xc3\xa9",
                                                       "\xf0\x9f\x98\x80",
                                                       "+",
                                                       "=",
                                                       std::string_view("\0", 1)};
        std::string text;
        const std::size_t n = pick(12);
        for (std::size_t i = 0; i < n; ++i)
            text += kPieces[pick(std::size(kPieces))];
        return text;
    }

    std::string ignored_value() {
        static constexpr std::string_view kValues[] = {
            "null", "[1,{\"x\":[]}]", "-0.5e-3", "\"kind\"", "{}", "true"};
        return std::string(kValues[pick(std::size(kValues))]);
    }

    std::uint8_t byte() { return static_cast<std::uint8_t>(pick(256)); }

    std::mt19937_64 rng_;
};

// Returns the line and the description the decoder should produce.
Case random_frame(FrameWriter& w) {
    const std::uint8_t version = w.byte(), exit_code = w.byte();
    const std::string code = w.random_text(), message = w.random_text();
    const bool to_stderr = w.pick(2) == 1;
    const std::string base64 = w.random_text();
    std::vector<std::pair<std::string, std::string>> members;  // key, JSON value
    std::string expected;
    switch (w.pick(3)) {
        case 0:
            members = {
                {"kind", "\"plugin_cli_output\""},
                {"protocol_version", std::to_string(version)},
                {"channel", w.pick(2) ? w.quoted(to_stderr ? "stderr" : "stdout")
                                      : (to_stderr ? "{\"stderr\":null}" : "{\"stdout\":{}}")},
                {"bytes_base64", w.quoted(base64)}};
            expected = "output v" + std::to_string(version) +
                       (to_stderr ? " stderr " : " stdout ") + base64;
            break;
        case 1:
            members = {{"kind", "\"plugin_cli_terminal\""},
                       {"protocol_version", std::to_string(version)},
                       {"exit_code", std::to_string(exit_code)}};
            expected =
                "terminal v" + std::to_string(version) + " exit " + std::to_string(exit_code);
            break;
        default:
            members = {{"kind", "\"plugin_cli_failure\""},
                       {"protocol_version", std::to_string(version)},
                       {"code", w.quoted(code)},
                       {"message", w.quoted(message)},
                       {"exit_code", std::to_string(exit_code)}};
            expected = "failure v" + std::to_string(version) + " code " + code + " message " +
                       message + " exit " + std::to_string(exit_code);
            break;
    }
    std::string line = w.space();
    if (w.pick(2) == 0) {  // array form
        line += "[";
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i > 0) line += ",";
            line.append(w.space()).append(members[i].second).append(w.space());
        }
        return {line.append("]").append(w.space()), expected};
    }
    for (std::size_t n = w.pick(3); n > 0; --n)
        members.emplace_back("note", w.ignored_value());
    std::shuffle(members.begin(), members.end(), w.rng_);
    line += "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) line += ",";
        line.append(w.space()).append(w.quoted(members[i].first)).append(w.space());
        line.append(":").append(w.space()).append(members[i].second).append(w.space());
    }
    return {line.append("}").append(w.space()), expected};
}

TEST(BridgeFrame, GeneratedFramesDecodeToWhatWasWritten) {
    FrameWriter writer(0x5eed'f4a3e);
    for (int i = 0; i < 3'000; ++i) {
        const Case c = random_frame(writer);
        ASSERT_EQ(describe(c.line), c.expected) << c.line;
    }
}

TEST(BridgeFrame, LargestLinesDecodeWhole) {
    std::string text(12 * 1024 * 1024 - 100, 'A');
    for (std::size_t i = 0; i < text.size(); i += 4099)
        text[i] = '/';
    EXPECT_TRUE(describe(R"(["plugin_cli_output",1,"stdout",")" + text + "\"]") ==
                "output v1 stdout " + text);
    // Written with every solidus escaped, as some writers do.
    std::string escaped;
    for (const char c : text)
        escaped += c == '/' ? "\\/" : std::string(1, c);
    EXPECT_TRUE(describe(R"(["plugin_cli_output",1,"stdout",")" + escaped + "\"]") ==
                "output v1 stdout " + text);
}

// The frame's texts are the line's own bytes: plain ones where they stand,
// escaped ones decoded over their escaped form.
TEST(BridgeFrame, TextsBorrowTheLine) {
    std::string line = R"(["plugin_cli_failure",1,"de\u006eied","a\nb\u00e9c",7])";
    const std::size_t code_at = line.find("de"), message_at = line.find("a\\n");
    const std::optional<BridgeFrame> frame = decode_frame(line);
    ASSERT_TRUE(frame);
    const auto& failure = std::get<Failure>(*frame);
    EXPECT_EQ(failure.code, "denied");
    EXPECT_EQ(failure.code.data(), line.data() + code_at);
    EXPECT_EQ(failure.message,
              "a\nb\xc3\xa9"
              "c");
    EXPECT_EQ(failure.message.data(), line.data() + message_at);
}

}  // namespace
}  // namespace velmot
