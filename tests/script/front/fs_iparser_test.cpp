#include "script/front/fs_iparser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/runtime/fs_errors.h"

namespace pt {
namespace {

// Settings as the grammars give them, applied after a reset.
struct Lang {
    std::vector<std::pair<std::string, std::string>> settings;
};
const Lang kPascal{};
const Lang kBasic{{{"commentline1", "'"},
                   {"commentline2", "rem"},
                   {"commentblock1", ""},
                   {"commentblock2", ""},
                   {"stringquotes", "\""},
                   {"skipeol", "0"},
                   {"skipchar", "_"},
                   {"hexsequence", "&H"}}};
const Lang kCpp{{{"stringquotes", "\""},
                 {"hexsequence", "0x"},
                 {"specstrchar", "1"},
                 {"casesensitive", "1"},
                 {"commentblock1", "/*,*/"},
                 {"commentblock2", ""}}};

void Configure(TfsParser& p, const Lang& lang) {
    p.ResetSettings();
    for (auto& [k, v] : lang.settings) ASSERT_TRUE(p.ApplySetting(k, v)) << k;
}

struct ReadCase {
    const char* name;
    const Lang* lang;
    std::string text;
    std::string token; // expected result
    int endPos;        // expected position afterwards
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class NumberTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(NumberTest, ReadsTokenAndStopsWhereExpected) {
    const ReadCase& c = GetParam();
    TfsParser p;
    Configure(p, *c.lang);
    p.SetText(c.text);
    EXPECT_EQ(p.ReadNumber(), c.token);
    EXPECT_EQ(p.Position(), c.endPos);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, NumberTest,
    ::testing::Values(ReadCase{"integer", &kPascal, "  42 ", "42", 5},
                      ReadCase{"dot_without_digits", &kPascal, "1.", "1", 2},
                      ReadCase{"dot_then_exponent", &kPascal, "1.e5", "1", 2},
                      ReadCase{"range", &kPascal, "1..5", "1", 2},
                      ReadCase{"fraction_exponent", &kPascal, "2.5e3;", "2.5e3", 6},
                      ReadCase{"signed_exponent", &kPascal, "1E+4", "1E+4", 5},
                      ReadCase{"incomplete_exponent", &kPascal, "1e+x", "1", 2},
                      ReadCase{"hex_needs_digit", &kPascal, "$G", "", 1},
                      ReadCase{"hex", &kPascal, "$1F;", "$1F", 4},
                      ReadCase{"hex_fraction_is_read", &kPascal, "$1F.5", "$1F.5", 6},
                      ReadCase{"not_a_number", &kPascal, "abc", "", 1},
                      ReadCase{"prefix_0x", &kCpp, "0x1F", "$1F", 5},
                      ReadCase{"prefix_0x_upper_is_zero", &kCpp, "0X1F", "0", 2},
                      ReadCase{"prefix_0x_needs_hex_digit", &kCpp, "0xg", "", 1},
                      ReadCase{"prefix_two_letters", &kBasic, "&HFF ", "$FF", 5},
                      ReadCase{"prefix_normalised_before_dot", &kCpp, "0x1F..2", "$1F", 5},
                      ReadCase{"nul_inside", &kPascal,
                               std::string("12\0"
                                           "3",
                                           4),
                               "12", 3}),
    [](const auto& info) { return std::string(info.param.name); });

class StringTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(StringTest, ReadsTokenAndStopsWhereExpected) {
    const ReadCase& c = GetParam();
    TfsParser p;
    Configure(p, *c.lang);
    p.SetText(c.text);
    EXPECT_EQ(p.ReadString(), c.token);
    EXPECT_EQ(p.Position(), c.endPos);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, StringTest,
    ::testing::Values(ReadCase{"simple", &kPascal, "'abc'", "'abc'", 6},
                      ReadCase{"empty_literal", &kPascal, "''", "''", 3},
                      ReadCase{"doubled_quote", &kPascal, "'a''b'", "'a'b'", 7},
                      ReadCase{"pieces_joined", &kPascal, "'abc'#13#10'def'", "'abc\r\ndef'", 17},
                      ReadCase{"blank_between_pieces", &kPascal, "'abc' #13", "'abc'", 6},
                      ReadCase{"char_codes_only", &kPascal, "#65#$42", "'AB'", 8},
                      ReadCase{"char_code_low_byte", &kPascal, "#321", "'A'", 5},
                      ReadCase{"hash_without_digits", &kPascal, "#x", "", 1},
                      ReadCase{"hash_hex_without_digits", &kPascal, "#$", "", 1},
                      ReadCase{"unterminated", &kPascal, "  'abc", "", 3},
                      ReadCase{"no_line_span", &kPascal, "'ab\ncd'", "", 1},
                      ReadCase{"tab_allowed", &kPascal, "'a\tb'", "'a\tb'", 6},
                      ReadCase{"nul_ends_piece", &kPascal, std::string("'a\0b'", 5), "", 1},
                      ReadCase{"failed_piece_keeps_earlier", &kPascal, "'ab'#9'cd", "'ab\t'", 7},
                      ReadCase{"double_quotes", &kBasic, "\"x\"\"y\"", "'x\"y'", 7},
                      ReadCase{"single_quote_is_plain_in_c", &kCpp, "'x'", "", 1},
                      ReadCase{"hex_escapes", &kCpp, "\"\\x41\\x42\"", "'AB'", 11},
                      ReadCase{"escaped_quote", &kCpp, "\"a\\\"b\"", "'a\"b'", 7},
                      ReadCase{"line_escapes", &kCpp, "\"\\n\\N\\r\\q\"", "'\n\n\rq'", 11},
                      ReadCase{"x_without_digits_dropped", &kCpp, "\"a\\xg\"", "'ag'", 7},
                      ReadCase{"no_doubling_with_escapes", &kCpp, "\"a\"\"b\"", "'ab'", 7},
                      ReadCase{"escape_before_line_end", &kCpp, "\"a\\\nb\"", "", 1},
                      ReadCase{"escape_at_end", &kCpp, "\"a\\", "", 1},
                      ReadCase{"hex_prefix_0x_char_code", &kCpp, "#0x41", "'A'", 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerString, HugeCharacterCodeRaisesConvertError) {
    struct Case {
        const Lang* lang;
        std::string text;
        std::string digits; // what the message names
    };
    const Case cases[] = {
        {&kPascal, "#2147483648", "2147483648"},
        {&kPascal, "#99999999999999999999999999", "99999999999999999999999999"},
        {&kPascal, "#$100000000", "$100000000"},
        {&kCpp, "\"\\x100000000\"", "$100000000"},
    };
    for (const Case& c : cases) {
        TfsParser p;
        Configure(p, *c.lang);
        p.SetText(c.text);
        try {
            p.ReadString();
            ADD_FAILURE() << c.text << ": no error";
        } catch (const EScriptError& e) {
            EXPECT_EQ(e.className(), kEConvertError);
            EXPECT_EQ(e.message(), "'" + c.digits + "' is not a valid integer value");
        }
    }
    // The largest values that still convert.
    TfsParser p;
    p.SetText("#2147483647#$FFFFFFFF#000000000000000000065");
    EXPECT_EQ(p.ReadString(), "'\xFF\xFF"
                              "A'");
}

struct SkipCase {
    const char* name;
    const Lang* lang;
    std::string text;
    int skipsTo; // ReadWord position of the first word after SkipBlanks
};
void PrintTo(const SkipCase& c, std::ostream* os) {
    *os << c.name;
}

class SkipTest : public ::testing::TestWithParam<SkipCase> {};

TEST_P(SkipTest, SkipsBlanksAndComments) {
    const SkipCase& c = GetParam();
    TfsParser p;
    Configure(p, *c.lang);
    p.SetText(c.text);
    p.SkipBlanks();
    EXPECT_EQ(p.Position(), c.skipsTo);
    EXPECT_EQ(p.TokenStart(), c.skipsTo);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, SkipTest,
    ::testing::Values(SkipCase{"line_comment", &kPascal, "// c\n x", 7},
                      SkipCase{"brace_comment", &kPascal, "{ c }x", 6},
                      SkipCase{"paren_star_comment", &kPascal, "(* c *)x", 8},
                      SkipCase{"comments_do_not_nest", &kPascal, "{ {n} x } y", 7},
                      SkipCase{"unterminated_block", &kPascal, "{ abc", 6},
                      SkipCase{"marker_in_last_byte", &kBasic, " '", 2},
                      SkipCase{"marker_before_last_byte", &kBasic, " 'x", 4},
                      SkipCase{"rem_is_a_prefix", &kBasic, "remove(x)\r\ny", 12},
                      SkipCase{"rem_is_case_sensitive", &kBasic, "REM x", 1},
                      SkipCase{"nul_is_blank", &kPascal, std::string("\0\0x", 3), 3},
                      SkipCase{"cr_not_blank_when_line_ends_count", &kBasic, " \r\nx", 2},
                      SkipCase{"lf_stays_blank", &kBasic, " \nx", 3},
                      SkipCase{"continuation_joins_lines", &kBasic, "_\r\n  x", 6},
                      SkipCase{"continuation_without_line_end", &kBasic, "_ _x", 4},
                      SkipCase{"c_block_comment", &kCpp, "/* a */ /**/x", 13}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerComments, LineCommentLeavesStatementLineEndInLineOrientedLanguages) {
    TfsParser p;
    Configure(p, kBasic);
    // A comment ending a statement line stops at CR; one that fills a line takes its end.
    p.SetText("a ' note\r\n' whole line\r\nb\r\n");
    EXPECT_EQ(p.ReadWord(), "a");
    EXPECT_TRUE(p.ReadLineEnd());
    EXPECT_FALSE(p.ReadLineEnd());
    EXPECT_EQ(p.ReadWord(), "b");
    EXPECT_TRUE(p.ReadLineEnd());
    EXPECT_EQ(p.Position(), p.Size() + 1);
    EXPECT_FALSE(p.ReadLineEnd());
}

TEST(ScannerComments, BareLineFeedsAreInvisibleToLineOrientedLanguages) {
    TfsParser p;
    Configure(p, kBasic);
    p.SetText("a\nb");
    EXPECT_EQ(p.ReadWord(), "a");
    EXPECT_FALSE(p.ReadLineEnd());
    EXPECT_EQ(p.ReadWord(), "b");
}

TEST(ScannerComments, EmptyMarkersDisableComments) {
    TfsParser p;
    p.SetCommentLine1("");
    p.SetCommentBlock1("");
    p.SetCommentBlock2("(*"); // one item: empty closing marker
    p.SetText("// {x} (*y");
    EXPECT_EQ(p.ReadPunctuation(), "/");
    EXPECT_EQ(p.ReadPunctuation(), "/");
    p.SkipBlanks();
    EXPECT_EQ(p.ReadPunctuation(), "{");
    EXPECT_EQ(p.ReadWord(), "x");
    EXPECT_EQ(p.ReadPunctuation(), "}");
    EXPECT_EQ(p.ReadWord(), "y"); // "(*" alone is skipped as an empty comment
}

TEST(ScannerWords, KeywordsIdentifiersAndCase) {
    TfsParser p;
    for (const char* k : {"end", "begin", "If", "var"}) p.AddKeyword(k);
    ASSERT_EQ(p.Keywords(), (std::vector<std::string>{"begin", "end", "If", "var"}));
    p.SetText("BEGIN x1 _y 9z");
    EXPECT_EQ(p.ReadIdentifier(), "");
    EXPECT_EQ(p.Position(), 6); // after the keyword
    p.SetPosition(1);
    EXPECT_EQ(p.ReadWord(), "BEGIN");
    EXPECT_EQ(p.ReadIdentifier(), "x1");
    EXPECT_EQ(p.ReadIdentifier(), "_y");
    EXPECT_EQ(p.ReadWord(), ""); // a word cannot start with a digit
    EXPECT_TRUE(p.IsKeyword("if"));
    EXPECT_FALSE(p.IsKeyword("ends"));

    p.SetCaseSensitive(true);
    EXPECT_TRUE(p.IsKeyword("If"));
    EXPECT_FALSE(p.IsKeyword("if"));
    EXPECT_FALSE(p.IsKeyword("BEGIN"));
    EXPECT_TRUE(p.IsKeyword("begin"));
}

TEST(ScannerWords, ContinuationCharacterCannotStartAnIdentifier) {
    TfsParser p;
    Configure(p, kBasic);
    p.SetText("_abc");
    EXPECT_EQ(p.ReadIdentifier(), "abc");
}

TEST(ScannerWords, IdentifierCharacterSet) {
    TfsParser p;
    p.SetText("ab\xC3\xA9z");
    EXPECT_EQ(p.ReadWord(), "ab");
    p.AddExtendedCharset();
    p.SetPosition(1);
    EXPECT_EQ(p.ReadWord(), "ab\xC3\xA9z");
    p.ApplySetting("identchars", "ab");
    p.SetText("abcab");
    EXPECT_EQ(p.ReadWord(), "ab");
}

TEST(ScannerSettings, ResetRestoresDefaultsButNotCommentLine2OrCase) {
    TfsParser p;
    Configure(p, kCpp);
    p.ApplySetting("commentline2", "rem");
    p.ApplySetting("identchars", "x");
    p.AddKeyword("if");
    p.ResetSettings();
    EXPECT_EQ(p.CommentLine1(), "//");
    EXPECT_EQ(p.CommentLine2(), "rem");
    EXPECT_TRUE(p.CaseSensitive());
    EXPECT_EQ(p.CommentBlock1Open(), "{");
    EXPECT_EQ(p.CommentBlock1Close(), "}");
    EXPECT_EQ(p.CommentBlock2Open(), "(*");
    EXPECT_EQ(p.CommentBlock2Close(), "*)");
    EXPECT_EQ(p.HexSequence(), "$");
    EXPECT_EQ(p.StringQuote(), '\'');
    EXPECT_FALSE(p.SpecStrChar());
    EXPECT_TRUE(p.SkipEOL());
    EXPECT_EQ(p.SkipChar(), '\0');
    EXPECT_TRUE(p.Keywords().empty());
    EXPECT_TRUE(p.IsIdentChar('a') && p.IsIdentChar('_') && p.IsIdentChar('9'));
    EXPECT_FALSE(p.IsIdentChar('$'));
    EXPECT_FALSE(p.ApplySetting("keywords", ""));
}

TEST(ScannerSettings, BlockCommentSettingSplitsLikeACommaList) {
    TfsParser p;
    p.SetCommentBlock1("\"<!\",  \">\"");
    EXPECT_EQ(p.CommentBlock1Open(), "<!");
    EXPECT_EQ(p.CommentBlock1Close(), ">");
    p.SetCommentBlock1("/* */");
    EXPECT_EQ(p.CommentBlock1Open(), "/*");
    EXPECT_EQ(p.CommentBlock1Close(), "*/");
}

TEST(ScannerTokens, PunctuationDoesNotSkipBlanks) {
    TfsParser p;
    p.SetText("+ ~\x7f"
              "a");
    EXPECT_EQ(p.ReadPunctuation(), "+");
    EXPECT_EQ(p.ReadPunctuation(), "");
    p.SkipBlanks();
    EXPECT_EQ(p.ReadPunctuation(), "~");
    EXPECT_EQ(p.ReadPunctuation(), "");
    EXPECT_EQ(p.Position(), 4);
}

TEST(ScannerTokens, BracketedTextCountsNestingOutsideQuotes) {
    struct Case {
        std::string text, token;
    };
    const Case cases[] = {
        {"a<b>c>rest", "a<b>c"},
        {"x[1]>", "x[1]"},
        {"'>'\">\"]", "'>'\">\""},
        {"\"it's\">", "\"it's\""},
        {" open<", " open<"}, // unterminated: the rest of the text
        {">", ""},
    };
    for (const Case& c : cases) {
        TfsParser p;
        p.SetText(c.text);
        EXPECT_EQ(p.ReadBracketed(), c.token) << c.text;
        EXPECT_EQ(p.Position(), static_cast<int>(c.token.size()) + 1) << c.text;
    }
}

TEST(ScannerTokens, LineEndConsumesWholeRun) {
    TfsParser p;
    p.SetText("  \r\n\r\n\nx");
    EXPECT_FALSE(p.ReadLineEnd()); // line ends skipped: CR and LF are blanks
    EXPECT_EQ(p.ReadWord(), "x");
    Configure(p, kBasic);
    p.SetText("a \r\n\r\n b");
    EXPECT_EQ(p.ReadWord(), "a");
    EXPECT_TRUE(p.ReadLineEnd());
    EXPECT_EQ(p.Position(), 7);
    EXPECT_FALSE(p.ReadLineEnd());
}

TEST(ScannerPositions, LineAndColumnText) {
    TfsParser p;
    p.SetText("ab\ncd\r\n\n\tx");
    struct Case {
        int pos;
        const char* text;
    };
    const Case cases[] = {{1, "1:1"}, {3, "1:3"}, {4, "2:1"},  {6, "2:3"}, {7, "2:4"},
                          {8, "3:1"}, {9, "4:1"}, {10, "4:2"}, {11, "4:3"}};
    for (const Case& c : cases) {
        p.SetPosition(c.pos);
        EXPECT_EQ(p.PositionText(), c.text) << c.pos;
    }
    EXPECT_EQ(p.OffsetOf(1, 2), 4);
    EXPECT_EQ(p.OffsetOf(2, 4), 10);
    EXPECT_EQ(p.OffsetOf(1, 0), -1);
    EXPECT_EQ(p.OffsetOf(1, 5), -1);
}

TEST(ScannerPositions, OffsetOfInvertsPositionText) {
    TfsParser p;
    p.SetText("x\n\n  yy\r\nzzz\n\n");
    for (int pos = 1; pos <= p.Size() + 1; ++pos) {
        int line, column;
        p.LineAndColumn(pos, line, column);
        EXPECT_EQ(p.OffsetOf(column, line), pos);
        EXPECT_GE(column, 1);
    }
}

TEST(ScannerPositions, SetPositionClampsAndSetsTokenStart) {
    TfsParser p;
    p.SetText("abc");
    p.SetPosition(99);
    EXPECT_EQ(p.Position(), 4);
    EXPECT_EQ(p.TokenStart(), 4);
    EXPECT_EQ(p.ReadWord(), "");
    p.SetPosition(-5);
    EXPECT_EQ(p.Position(), 1);
    EXPECT_EQ(p.CharAt(4), '\0');
}

} // namespace
} // namespace pt
