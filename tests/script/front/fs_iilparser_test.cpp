#include "script/front/fs_iilparser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "script/runtime/fs_errors.h"

namespace pt {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string WithoutCR(std::string s) {
    std::erase(s, '\r');
    return s;
}

// The intermediate tree without positions: name, "=text" for leaves that carry one, children
// in parentheses. Makes structure assertions short and readable.
std::string Shape(const TfsXMLItem* item) {
    std::string s = item->Name;
    const std::string text = item->Prop("text");
    if (!text.empty()) s += "=" + text;
    if (item->Name == "uses") s += "[" + item->Prop("unit") + "]";
    if (item->Count() > 0) {
        s += "(";
        for (int i = 0; i < item->Count(); ++i) {
            if (i > 0) s += " ";
            s += Shape(item->Items(i));
        }
        s += ")";
    }
    return s;
}

// One compilation the way the script object drives it: lines joined with CR LF.
struct Compile {
    TfsILOwnerData owner;
    TfsILParser parser{owner};
    bool ok = false;

    explicit Compile(const std::string& source, const std::string& language = "PascalScript",
                     std::function<std::string(const std::string&)> units = nullptr) {
        owner.onGetUnit = std::move(units);
        parser.SelectLanguage(language);
        ok = parser.MakeIL(JoinLines(SplitLines(source)));
    }
    std::string shape() const { return Shape(parser.ILDocument().Root()); }
    // The statements of the main block.
    std::string body() const {
        const TfsXMLItem* root = parser.ILDocument().Root();
        for (int i = 0; i < root->Count(); ++i)
            if (root->Items(i)->Name == "compoundstmt") return Shape(root->Items(i));
        return "";
    }
};

TEST(ILParserTest, ForLoopGivesTheDocumentedIntermediateProgram) {
    Compile c(ReadFile(std::string(PT_TEST_DATA_DIR) + "/script/front/data/for_loop.pas"));
    ASSERT_TRUE(c.ok) << c.owner.errorText << " at " << c.owner.errorLocation;
    EXPECT_EQ(c.owner.errorText, "");
    EXPECT_EQ(c.owner.errorLocation, "");
    c.parser.ILDocument().Indented = true;
    EXPECT_EQ(WithoutCR(c.parser.ILDocument().SaveToString()),
              ReadFile(std::string(PT_TEST_DATA_DIR) + "/script/front/data/for_loop.il.xml"));
}

struct ErrorCase {
    const char* source;
    const char* text;
    const char* location;
};

TEST(ILParserTest, SyntaxErrorsReportTheFirstTokenThatDidNotFit) {
    const ErrorCase cases[] = {
        {"begin a := 1 b := 2 end.", "';' expected", "1:14"},
        {"x := 1", "'BEGIN' expected", "1:1"},
        {"begin if a > = b then end.", "'THEN' expected", "1:12"},
        // Parsing goes on after the first error and meets "';' expected"; only the first counts.
        {"begin\n  x := ;\n  y := ;\nend.", "Expression expected", "2:8"},
        {"var Begin: Integer; begin end.", "Identifier expected", "1:5"},
        {"var bEGIN: Integer; begin end.", "Identifier expected", "1:5"},
        {"begin end", "'.' expected", "2:1"}, // the blanks after "end" are skipped
        {"begin x := (1 + 2; end.", "')' expected", "1:18"},
        {"begin case x of 1: a else b c end.", "'END' expected", "1:29"},
        {"begin for i := 1 do x; end.", "'TO' or 'DOWNTO' expected", "1:18"},
        {"begin try x; end; end.", "'FINALLY' or 'EXCEPT' expected", "1:14"},
        {"begin x := <a]; end.", "'>' expected", "1:14"},
        {"var a: array[1..2 of Integer; begin end.", "']' expected", "1:19"},
        {"procedure P(a: Integer; begin end; begin end.", "')' expected", "1:25"},
        {"begin repeat x; end.", "'UNTIL' expected", "1:17"},
    };
    for (const auto& tc : cases) {
        Compile c(tc.source);
        EXPECT_FALSE(c.ok) << tc.source;
        EXPECT_EQ(c.owner.errorText, tc.text) << tc.source;
        EXPECT_EQ(c.owner.errorLocation, tc.location) << tc.source;
    }
}

struct ShapeCase {
    const char* source;
    const char* body; // shape of the main compound statement
};

TEST(ILParserTest, StatementsAndExpressionsGiveTheirIntermediateElements) {
    const ShapeCase cases[] = {
        // The then part exists even when empty.
        {"begin if x then else y := 1 end.",
         "compoundstmt(ifstmt(expr(dsgn(node=x)) thenstmt elsestmt(assignstmt(dsgn(node=y) "
         "expr(number=1)))))"},
        {"begin x := -a >= b <> c <= d end.",
         "compoundstmt(assignstmt(dsgn(node=x) expr(op=unminus dsgn(node=a) op=>= dsgn(node=b) "
         "op=<> dsgn(node=c) op=<= dsgn(node=d))))"},
        {"begin x := not (a and b) or c mod 2 end.",
         "compoundstmt(assignstmt(dsgn(node=x) expr(op=not op=( expr(dsgn(node=a) op=and "
         "dsgn(node=b)) op=) op=or dsgn(node=c) op=mod number=2)))"},
        {"begin x := a in [1, 3..5] end.",
         "compoundstmt(assignstmt(dsgn(node=x) expr(dsgn(node=a) op=in set(expr(number=1) "
         "expr(number=3) range=. expr(number=5)))))"},
        {"begin @p.q[1, 2](x).end; end.",
         "compoundstmt(callstmt(dsgn(addr=@ node=p node=q node=[ expr(number=1) expr(number=2) "
         "expr(dsgn(node=x)) node=end)))"},
        {"begin x := <Table.\"Field\"> end.",
         "compoundstmt(assignstmt(dsgn(node=x) expr(dsgn(node=Get "
         "expr(string='Table.\"Field\"')))))"},
        {"begin for i := 9 downto 1 do ; end.",
         "compoundstmt(forstmt(ident=i expr(number=9) downto=downto expr(number=1)))"},
        {"begin case x of 1, 2: a; 3..4: b; else c; end end.",
         "compoundstmt(casestmt(expr(dsgn(node=x)) caseselector(set(expr(number=1) "
         "expr(number=2)) callstmt(dsgn(node=a))) caseselector(set(expr(number=3) range=. "
         "expr(number=4)) callstmt(dsgn(node=b))) callstmt(dsgn(node=c))))"},
        {"begin try a except b end; repeat break; continue; exit until x end.",
         "compoundstmt(trystmt(callstmt(dsgn(node=a)) exceptstmt(callstmt(dsgn(node=b)))) "
         "repeatstmt(break continue exit expr(dsgn(node=x))))"},
        {"begin with a, b do while c do d end.",
         "compoundstmt(with(dsgn(node=a) dsgn(node=b) whilestmt(expr(dsgn(node=c)) "
         "callstmt(dsgn(node=d)))))"},
        {"begin s := 'it''s' + #65'b' + $1F end.",
         "compoundstmt(assignstmt(dsgn(node=s) expr(string='it's' op=+ string='Ab' op=+ "
         "number=$1F)))"},
    };
    for (const auto& tc : cases) {
        Compile c(tc.source);
        ASSERT_TRUE(c.ok) << tc.source << ": " << c.owner.errorText << " at "
                          << c.owner.errorLocation;
        EXPECT_EQ(c.body(), tc.body) << tc.source;
    }
}

TEST(ILParserTest, DeclarationsGiveTheirIntermediateElements) {
    Compile c(
        "program P;\n"
        "const N = 5;\n"
        "var a, b: array[5] of Integer; c: array[0..4, 2] of String = 'x'; d: array of Byte;\n"
        "function F(var x, y: Integer; const s: String = ''; z: Variant): Boolean;\n"
        "  var t: Integer;\n"
        "  procedure Q; begin end;\n"
        "begin Result := True end;\n"
        "begin end.\n"
        "this text after the final end is never read ((( '");
    ASSERT_TRUE(c.ok) << c.owner.errorText << " at " << c.owner.errorLocation;
    // An array bound written as one expression gives a dim with two identical expressions:
    // the range alternative emitted the first before it failed.
    EXPECT_EQ(c.shape(),
              "program(const(ident=N expr(number=5)) "
              "var(ident=a ident=b array(dim(expr(number=5) expr(number=5))) type=Integer) "
              "var(ident=c array(dim(expr(number=0) expr(number=4)) dim(expr(number=2) "
              "expr(number=2))) type=String init(expr(string='x'))) "
              "var(ident=d array type=Byte) "
              "function(name=F parameters(varparams var(ident=x ident=y type=Integer) "
              "var(ident=s type=String init(expr(string=''))) var(ident=z type=Variant)) "
              "type=Boolean var(ident=t type=Integer) procedure(name=Q compoundstmt) "
              "compoundstmt(assignstmt(dsgn(node=Result) expr(dsgn(node=True))))) "
              "compoundstmt types)");
}

TEST(ILParserTest, LeafAndNodePositionsPointAtTokens) {
    // Comments and blanks before a node are skipped for its pos; pos1 ends before blanks.
    Compile c("begin\n  x := {c} a  +  1 ;\nend.");
    ASSERT_TRUE(c.ok);
    const TfsXMLItem* assign = c.parser.ILDocument().Root()->Items(0)->Items(0);
    EXPECT_EQ(assign->Prop("pos"), "2:3");
    const TfsXMLItem* expr = assign->Items(1);
    EXPECT_EQ(expr->Prop("pos"), "2:12");
    EXPECT_EQ(expr->Prop("pos1"), "2:19");
    EXPECT_EQ(expr->Items(1)->Prop("pos"), "2:16"); // op: just after "+"
}

TEST(ILParserTest, UnknownLanguageIsAnException) {
    TfsILOwnerData owner;
    TfsILParser parser(owner);
    try {
        parser.SelectLanguage("NoSuchScript");
        FAIL() << "no exception";
    } catch (const EScriptError& e) {
        EXPECT_STREQ(e.what(), "Language 'NoSuchScript' not found");
    }
    EXPECT_NE(LanguageGrammar("pascalscript").find("<language text=\"PascalScript\">"),
              std::string::npos);
}

// A small grammar for what PascalScript does not use: the directive, missing rules, types,
// line ends, case sensitivity.
const char* const kTinyGrammar =
    "<?xml version=\"1.0\"?><language text=\"Tiny\"><parser><skipeol text=\"0\"/>"
    "<casesensitive text=\"1\"/><declarevars text=\"0\"/><keywords><go/></keywords>"
    "<errors><err1 text=\"go expected\"/><err2 text=\"line end expected\"/></errors></parser>"
    "<types><int type=\"Integer\"/></types>"
    "<program><loop><line/></loop></program>"
    "<line node=\"stmt\"><keyword text=\"GO\" err=\"err1\" term=\"1\"/><ident add=\"who\"/>"
    "<eol err=\"err2\"/></line></language>";

TEST(ILParserTest, TinyGrammarSettingsTypesAndLineEnds) {
    RegisterLanguage("TinyScript", kTinyGrammar);
    Compile c("go x\ngo Go\n", "tinyscript");
    ASSERT_TRUE(c.ok) << c.owner.errorText;
    EXPECT_FALSE(c.parser.NeedDeclareVars());
    // Case-sensitive: "Go" is an identifier, not the keyword; types are copied last.
    EXPECT_EQ(c.shape(), "program(stmt(who=x) stmt(who=Go) types(int))");
    EXPECT_EQ(c.parser.ILDocument().Root()->Items(2)->Items(0)->Prop("type"), "Integer");

    Compile upper("GO x\n", "TinyScript");
    EXPECT_EQ(upper.owner.errorText, "go expected");
    Compile noEol("go x go y\n", "TinyScript");
    EXPECT_EQ(noEol.owner.errorText, "line end expected");
    EXPECT_EQ(noEol.owner.errorLocation, "1:6");
}

TEST(ILParserTest, LanguageDirectiveSwitchesGrammarOnlyAtTheFirstByte) {
    RegisterLanguage("TinyScript", kTinyGrammar);
    Compile c("#language TinyScript \ngo x\n");
    ASSERT_TRUE(c.ok) << c.owner.errorText;
    EXPECT_EQ(c.parser.LanguageName(), "TinyScript");
    EXPECT_EQ(c.shape(), "program(stmt(who=x) types(int))");

    Compile late(" #language TinyScript\ngo x\n");
    EXPECT_FALSE(late.ok);
    EXPECT_EQ(late.parser.LanguageName(), "PascalScript");
    EXPECT_EQ(late.owner.errorText, "'BEGIN' expected");

    EXPECT_THROW(Compile("#language Nowhere\nbegin end."), EScriptError);
}

TEST(ILParserTest, ReferenceToMissingRuleIsInvalidLanguageDefinition) {
    RegisterLanguage("BrokenScript", "<?xml version=\"1.0\"?><language><program><sequence>"
                                     "<nosuchrule/></sequence></program></language>");
    try {
        Compile c("anything", "BrokenScript");
        FAIL() << "no exception";
    } catch (const EScriptError& e) {
        EXPECT_STREQ(e.what(), "Invalid language definition");
    }
}

TEST(ILParserTest, DeepNestingIsAnErrorNotACrash) {
    const std::string parens =
        "begin x := " + std::string(5000, '(') + "1" + std::string(5000, ')') + " end.";
    std::string blocks;
    for (int i = 0; i < 3000; ++i) blocks += "begin ";
    for (int i = 0; i < 3000; ++i) blocks += "end; ";
    for (const std::string& source : {parens, "begin " + blocks + " end."}) {
        Compile c(source);
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(c.owner.errorText, "Nesting too deep");
        EXPECT_EQ(c.owner.errorLocation.substr(0, 2), "1:");
    }
    // Ordinary nesting is far below the limit.
    Compile fine("begin x := " + std::string(200, '(') + "1" + std::string(200, ')') + " end.");
    EXPECT_TRUE(fine.ok) << fine.owner.errorText;
}

// ---- Units ------------------------------------------------------------------------------------

struct UnitSource {
    std::map<std::string, std::string> texts;
    std::map<std::string, int> reads;
    std::function<std::string(const std::string&)> hook() {
        return [this](const std::string& name) {
            ++reads[name];
            return texts[name];
        };
    }
};

TEST(ILParserTest, UnitsAreReadOnceAndSplicedInReverseOrder) {
    UnitSource units;
    units.texts["a.pas"] = "uses 'a.pas'; var ua: Integer; begin end.";
    units.texts["b.pas"] = "uses 'a.pas'; procedure PB; begin end; begin end.";
    units.texts["empty.pas"] = "";
    Compile c("uses 'A.PAS', 'b.pas', 'a.pas', 'empty.pas';\nbegin end.", "PascalScript",
              units.hook());
    ASSERT_TRUE(c.ok) << c.owner.errorText << " in " << c.owner.errorUnitName;
    // Names are taken from the end of the clause; "A.PAS" repeats "a.pas".
    EXPECT_EQ(c.shape(), "program(uses[empty.pas] "
                         "uses[a.pas](program(var(ident=ua type=Integer) compoundstmt types)) "
                         "uses[b.pas](program(procedure(name=PB compoundstmt) compoundstmt types)) "
                         "compoundstmt types)");
    EXPECT_EQ(units.reads["a.pas"], 1);
    EXPECT_EQ(units.reads["b.pas"], 1);
    EXPECT_EQ(units.reads.count("A.PAS"), 0u);
    EXPECT_EQ(c.parser.IncludedUnits().size(), 3u);
}

TEST(ILParserTest, FailingUnitReportsItsOwnPositionAndName) {
    UnitSource units;
    units.texts["good.pas"] = "uses 'bad.pas';\nbegin end.";
    units.texts["bad.pas"] = "begin\n  x := ;\nend.";
    // A later case statement forgives errors of its own selectors, never a unit's error.
    Compile c("uses 'good.pas';\nbegin case x of 1: ; 2: ; end end.", "PascalScript", units.hook());
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.owner.errorText, "Expression expected");
    EXPECT_EQ(c.owner.errorLocation, "2:8");
    EXPECT_EQ(c.owner.errorUnitName, "bad.pas");

    // The main text's own error carries no unit name.
    Compile main("uses 'good2.pas';\nbegin x := end.", "PascalScript",
                 [](const std::string&) { return std::string("begin end."); });
    EXPECT_EQ(main.owner.errorText, "Expression expected");
    EXPECT_EQ(main.owner.errorLocation, "2:12");
    EXPECT_EQ(main.owner.errorUnitName, "");
}

TEST(ILParserTest, ScriptObjectSuppliesUnitsAndReceivesErrors) {
    TfsScript script;
    script.ExtendedCharset = true;
    std::vector<std::string> asked;
    script.OnGetUnit = [&](TfsScript* sender, const std::string& unit, std::string& text) {
        EXPECT_EQ(sender, &script);
        asked.push_back(unit);
        text =
            unit == "bad.pas" ? "begin\r\n  x := ;\r\nend." : "var \xC4rger: Integer; begin end.";
    };
    TfsILParser parser(script);
    EXPECT_EQ(parser.Script(), &script);
    parser.SelectLanguage(script.SyntaxType);
    // Bytes 128-255 are identifier characters with ExtendedCharset, also in units.
    ASSERT_TRUE(parser.MakeIL("uses 'ok.pas';\r\nvar \xD6l: Integer;\r\nbegin end.\r\n"))
        << script.ErrorText;
    EXPECT_EQ(script.ErrorText, "");

    EXPECT_FALSE(parser.MakeIL("uses 'bad.pas';\r\nbegin end.\r\n"));
    EXPECT_EQ(script.ErrorText, "Expression expected");
    EXPECT_EQ(script.ErrorLocation, "2:8");
    EXPECT_EQ(script.ErrorUnitName, "bad.pas");
    EXPECT_EQ(asked, (std::vector<std::string>{"ok.pas", "bad.pas"}));
}

class UnitFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("pt_units_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir_ / "one");
        std::filesystem::create_directories(dir_ / "two");
        std::ofstream(dir_ / "two" / "u.pas") << "var fromTwo: Integer;\r\nbegin end.\r\n";
        std::ofstream(dir_ / "one" / "v.pas") << "var fromOne: Integer;\nbegin end.";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(UnitFilesTest, UnitsAreFoundAlongTheIncludePath) {
    TfsILOwnerData owner;
    owner.includePath = {(dir_ / "one").string(), (dir_ / "two").string() + "/"};
    TfsILParser parser(owner);
    parser.SelectLanguage("PascalScript");
    ASSERT_TRUE(parser.MakeIL("uses 'u.pas', 'v.pas';\r\nbegin end.\r\n")) << owner.errorText;
    EXPECT_EQ(Shape(parser.ILDocument().Root()),
              "program(uses[v.pas](program(var(ident=fromOne type=Integer) compoundstmt types)) "
              "uses[u.pas](program(var(ident=fromTwo type=Integer) compoundstmt types)) "
              "compoundstmt types)");
}

TEST_F(UnitFilesTest, UnreadableUnitIsAFileError) {
    TfsILOwnerData owner;
    owner.includePath = {(dir_ / "one").string()};
    for (const char* unit : {"missing.pas", ""}) { // "" names the folder itself
        TfsILParser parser(owner);
        parser.SelectLanguage("PascalScript");
        try {
            parser.MakeIL(std::string("uses '") + unit + "';\r\nbegin end.\r\n");
            FAIL() << "no exception for '" << unit << "'";
        } catch (const EScriptError& e) {
            EXPECT_EQ(e.className(), "EFOpenError");
            EXPECT_NE(std::string(e.what()).find("Cannot open file"), std::string::npos);
        }
    }
}

} // namespace
} // namespace pt
