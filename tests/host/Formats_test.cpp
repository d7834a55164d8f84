#include "Formats.h"

#include <gtest/gtest.h>

namespace pt::host {
namespace {

// A row as "name:kind=json" items joined by blanks, so that a table can state it compactly.
std::string describe(const Row& row) {
    std::string out;
    for (const Field& f : row) {
        if (!out.empty()) out.push_back(' ');
        out += f.name + ":" + std::to_string(f.value.raw().vt) + "=";
        appendJsonValue(f.value.raw(), out);
    }
    return out;
}

std::string describe(const Packet& p) {
    std::string out;
    for (const Row& r : p) out += "[" + describe(r) + "]";
    return out;
}

struct ParseCase {
    const char* line;
    PacketParser::Result result;
    const char* expect; // packet description, or a part of the error text
};

void runCases(Format f, std::initializer_list<const char*> prelude,
              std::initializer_list<ParseCase> cases) {
    for (const ParseCase& c : cases) {
        auto parser = makeParser(f);
        Packet p;
        std::string error;
        for (const char* line : prelude)
            ASSERT_NE(parser->parse(line, p, error), PacketParser::Result::Error);
        PacketParser::Result r = parser->parse(c.line, p, error);
        EXPECT_EQ(r, c.result) << c.line << " -> " << error;
        if (r == PacketParser::Result::Error) {
            EXPECT_NE(error.find(c.expect), std::string::npos) << c.line << " -> " << error;
            EXPECT_TRUE(p.empty());
        } else if (r == PacketParser::Result::Packet) {
            EXPECT_EQ(describe(p), c.expect) << c.line;
        }
    }
}

using R = PacketParser::Result;

TEST(JsonlParserTest, ValuesAndShapes) {
    runCases(
        Format::Jsonl, {},
        {
            {R"({"a":1,"b":2147483648,"c":1.5,"d":"x","e":true,"f":null})", R::Packet,
             "[a:3=1 b:20=2147483648 c:5=1.5 d:8=\"x\" e:11=true f:1=null]"},
            {R"({"lo":-2147483648,"below":-2147483649})", R::Packet,
             "[lo:3=-2147483648 below:20=-2147483649]"},
            // Above the Int64 range an integer can only be a Double.
            {R"({"u":9223372036854775808})", R::Packet, "[u:5=9223372036854775808.0]"},
            {R"({"v":123456789012345678901234567890})", R::Packet, "[v:5=1.2345678901234568e+29]"},
            {R"({"s":"12345678901234567890123","w":[-123456789012345678901234567890]})", R::Packet,
             R"([s:8="12345678901234567890123" w:8="[-1.2345678901234568e+29]"])"},
            {R"({"a":01})", R::Error, "invalid JSON"},
            // The written form decides: a fraction or exponent makes a Double.
            {R"({"x":1.0,"y":1e2,"z":-0})", R::Packet, "[x:5=1.0 y:5=100.0 z:3=0]"},
            {R"({"s":"caf\u00e9 \ud83d\ude00"})", R::Packet,
             "[s:8=\"caf\xC3\xA9 \xF0\x9F\x98\x80\"]"},
            {R"({"n":{"y":[1, 2]}})", R::Packet, R"([n:8="{\"y\":[1,2]}"])"},
            {R"({"k":1,"k":2})", R::Packet, "[k:3=1 k:3=2]"},
            {R"([{"a":1},{"a":2,"b":3}])", R::Packet, "[a:3=1][a:3=2 b:3=3]"},
            {R"({})", R::Packet, "[]"},
            {"", R::Skip, ""},
            {"  \t", R::Skip, ""},
            {"[]", R::Skip, ""},
            {R"([{"a":1},2])", R::Error, "element 1 of the array is not an object"},
            {"42", R::Error, "expected a JSON object or an array of objects"},
            {R"({"a":)", R::Error, "invalid JSON"},
            {R"({"a":1} x)", R::Error, "invalid JSON"},
            {"{\"a\":\"\xFF\"}", R::Error, "invalid JSON"},
            {R"({"$NEW_ROW$":1})", R::Error, "reserved"},
            {R"([{"a":1},{"$NEW_ROW$":null}])", R::Error, "reserved"},
        });
}

TEST(CsvParserTest, HeaderAndTypedFields) {
    runCases(
        Format::Csv, {"name, temp ,\"id\",note"},
        {
            {"probe,21.5,7,hello", R::Packet,
             "[name:8=\"probe\" temp:5=21.5 id:3=7 note:8=\"hello\"]"},
            {"\"a,b\",\"1\", 3 ,", R::Packet, "[name:8=\"a,b\" temp:8=\"1\" id:3=3 note:1=null]"},
            {"\"say \"\"hi\"\"\",1e3,99999999999,1x", R::Packet,
             "[name:8=\"say \\\"hi\\\"\" temp:5=1000.0 id:20=99999999999 note:8=\"1x\"]"},
            {"", R::Skip, ""},
            {"a,b,c", R::Error, "expected 4 fields, found 3"},
            {"a,b,c,d,e", R::Error, "expected 4 fields, found 5"},
            {"\"open,1,2,3", R::Error, "unterminated quoted field at column 1"},
            {"a\"b,1,2,3", R::Error, "quote inside an unquoted field at column 2"},
            {"\"a\"x,1,2,3", R::Error, "unexpected text after the quoted field"},
            {"\xC3,1,2,3", R::Error, "invalid UTF-8 at column 1"},
        });
}

TEST(CsvParserTest, BadHeadersAreReportedAndTheNextLineIsTried) {
    auto parser = makeParser(Format::Csv);
    Packet p;
    std::string error;
    EXPECT_EQ(parser->parse("a,,b", p, error), R::Error);
    EXPECT_NE(error.find("column 2 of the header has no name"), std::string::npos);
    EXPECT_EQ(parser->parse("a,$NEW_ROW$", p, error), R::Error);
    EXPECT_EQ(parser->parse("x", p, error), R::Skip);
    ASSERT_EQ(parser->parse("1", p, error), R::Packet);
    EXPECT_EQ(describe(p), "[x:3=1]");
}

TEST(RawParserTest, EachLineIsData) {
    runCases(Format::Raw, {},
             {
                 {"t=21.5 h=40", R::Packet, "[DATA:8=\"t=21.5 h=40\"]"},
                 {"", R::Packet, "[DATA:8=\"\"]"},
                 {"ok\x80", R::Error, "invalid UTF-8 at column 3"},
             });
}

std::string writeAll(Format f, std::initializer_list<const char*> jsonLines,
                     std::vector<std::string>* warnings = nullptr) {
    auto parser = makeParser(Format::Jsonl);
    auto writer = makeWriter(f, [&](const std::string& w) {
        if (warnings) warnings->push_back(w);
    });
    std::string out, error;
    Packet p;
    std::vector<FieldView> view;
    for (const char* line : jsonLines) {
        EXPECT_EQ(parser->parse(line, p, error), R::Packet) << line << error;
        for (const Row& r : p) {
            viewRow(r, view);
            writer->write(view, out);
        }
    }
    return out;
}

TEST(WriterTest, JsonlRoundTripsItsOwnOutput) {
    const char* lines[] = {
        R"({"a":1,"b":-2147483649,"c":1.5,"d":"x\"y\n","e":false,"f":null,"g":2.0})",
        R"({"k":1,"k":"two","esc":"\u0001\t"})",
        R"({})",
    };
    for (const char* line : lines)
        EXPECT_EQ(writeAll(Format::Jsonl, {line}), std::string(line) + "\n");
}

TEST(WriterTest, CsvHeaderQuotingAndColumnsByName) {
    std::vector<std::string> warnings;
    std::string out = writeAll(Format::Csv,
                               {R"({"name":"a,b","n":1,"s":"12","e":"","x":null})",
                                R"({"N":2,"name":"plain","extra":true,"extra":false})",
                                R"({"name":" pad ","n":1.5,"s":"say \"hi\"","e":"-","x":3})"},
                               &warnings);
    EXPECT_EQ(out, "name,n,s,e,x\n"
                   "\"a,b\",1,\"12\",\"\",\n"
                   "plain,2,,,\n"
                   "\" pad \",1.5,\"say \"\"hi\"\"\",-,3\n");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"extra\""), std::string::npos);
}

TEST(WriterTest, CsvOutputReadsBackWithTheSameTypes) {
    std::string out = writeAll(Format::Csv, {R"({"s":"007","i":7,"d":7.5,"t":"x y","z":null})"});
    auto parser = makeParser(Format::Csv);
    Packet p;
    std::string error;
    size_t nl = out.find('\n');
    ASSERT_EQ(parser->parse(std::string_view(out).substr(0, nl), p, error), R::Skip);
    ASSERT_EQ(parser->parse(std::string_view(out).substr(nl + 1, out.size() - nl - 2), p, error),
              R::Packet);
    EXPECT_EQ(describe(p), "[s:8=\"007\" i:3=7 d:5=7.5 t:8=\"x y\" z:1=null]");
}

TEST(WriterTest, RawWritesDataOrAllValues) {
    EXPECT_EQ(writeAll(Format::Raw, {R"({"x":1,"data":"line\r\none"})"}), "line  one\n");
    EXPECT_EQ(writeAll(Format::Raw, {R"({"t":21.5,"u":"C","n":null})"}), "21.5\tC\t\n");
}

TEST(WriterTest, EventLines) {
    Row row;
    row.push_back(Field{"EVENT-GLOBAL", Value::boolean(true)});
    row.push_back(Field{"EVENT-TYPE", Value::text("OVERHEAT")});
    row.push_back(Field{"temp", Value::dbl(99.5)});
    row.push_back(Field{"who", Value::text("probe \"1\"")});
    std::vector<FieldView> view;
    viewRow(row, view);
    std::string out;
    appendEventLine(view, out);
    EXPECT_EQ(out, R"({"event":"OVERHEAT","global":true,"temp":99.5,"who":"probe \"1\""})"
                   "\n");
}

TEST(NumberFromTextTest, FollowsJsonSyntax) {
    struct Case {
        const char* text;
        int kind; // 0: not a number (also a number outside the double range: kept as text)
    } cases[] = {{"0", 3},     {"-12", 3},  {"2147483648", 20}, {"1.5", 5},
                 {"1e400", 0}, {"01", 0},   {"1.", 0},          {".5", 0},
                 {"+1", 0},    {"1e", 0},   {"--1", 0},         {"99999999999999999999", 5},
                 {"", 0},      {"0x10", 0}, {"inf", 0},         {"-0.0", 5}};
    for (const Case& c : cases) {
        auto v = numberFromText(c.text);
        EXPECT_EQ(v ? v->raw().vt : 0, c.kind) << c.text;
    }
}

} // namespace
} // namespace pt::host
