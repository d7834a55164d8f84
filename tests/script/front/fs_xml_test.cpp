#include "script/front/fs_xml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include <unistd.h>

#include "script/runtime/fs_errors.h"

namespace pt {
namespace {

// Compact form of a tree: name, [Text] when not empty, (children) when any.
std::string Dump(const TfsXMLItem* item) {
    std::string s = item->Name;
    if (!item->Text.empty()) s += "[" + item->Text + "]";
    if (item->Count() > 0) {
        s += "(";
        for (int i = 0; i < item->Count(); ++i) {
            if (i) s += ",";
            s += Dump(item->Items(i));
        }
        s += ")";
    }
    return s;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EScriptError& e) {
        return e.className() + ": " + e.message();
    }
    return "";
}

// ---- Escaping -----------------------------------------------------------------------------

TEST(XmlEscape, EscapeAndUnescapeCases) {
    struct Case {
        std::string raw, escaped;
    };
    const Case cases[] = {
        {"a\r\nb\"<>", "a&#13;&#10;b&#34;&#60;&#62;"},
        {"\t\x01\xE9&amp;&lt;", "\t\x01\xE9&amp;&lt;"}, // kept as written
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeValue(c.raw), c.escaped);
        EXPECT_EQ(UnescapeValue(c.escaped), c.raw);
    }
    EXPECT_EQ(EscapeValue("a&quot;b"), "a&#34;b");
    EXPECT_EQ(UnescapeValue("a&quot;b"), "a\"b");
}

TEST(XmlEscape, UnescapeEdgeCases) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"&#65;&#066;", "AB"},
        {"&#321;", "A"},  // low 8 bits
        {"&#65", "&#65"}, // no closing ";": kept
        {"x&#1", "x&#1"}, // fewer than three bytes after "&"
        {"&#0;", std::string(1, '\0')},
        {"&quo", "&quo"},
        {"&&quot;", "&\""},
        {"&#2147483647;", "\xFF"},
    };
    for (const Case& c : cases) EXPECT_EQ(UnescapeValue(c.in), c.out) << c.in;

    const std::pair<std::string, std::string> bad[] = {
        {"&#x41;", "x41"}, {"&#;ab", ""}, {"&#2147483648;", "2147483648"}, {"&#1 2;", "1 2"}};
    for (auto& [in, digits] : bad)
        EXPECT_EQ(ErrorOf([&] { UnescapeValue(in); }),
                  "EConvertError: '" + digits + "' is not a valid integer value")
            << in;
}

TEST(XmlEscape, RoundTripsArbitraryBytesWithoutReferences) {
    // Any value survives unless it already holds text that reads as a reference.
    std::mt19937 rng(7);
    const std::string alphabet = std::string("ab\r\n\"<>& \t\xE9\x7F", 13) + std::string(1, '\0');
    for (int n = 0; n < 500; ++n) {
        std::string s;
        for (int i = rng() % 20; i > 0; --i) s += alphabet[rng() % alphabet.size()];
        ASSERT_EQ(UnescapeValue(EscapeValue(s)), s);
    }
}

// ---- Attributes ---------------------------------------------------------------------------

TEST(XmlProp, ReadsNamedAttributesOnlyInExactForm) {
    TfsXMLItem item;
    item.Text = "a=\"1\" B=\"2\" xc=\"3\" d = \"4\" e=\"open";
    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {{"a", "1"},  {"A", "1"}, {"b", "2"},    {"c", ""},
                          {"xc", "3"}, {"d", ""},  {"e", "open"}, {"", ""}};
    for (const Case& c : cases) EXPECT_EQ(item.Prop(c.name), c.value) << c.name;
}

TEST(XmlProp, WritesInPlaceOrAppends) {
    struct Case {
        std::string text, name, value, after;
    };
    const Case cases[] = {
        {"a=\"1\" b=\"2\" c=\"3\"", "b", "x", "a=\"1\" b=\"x\" c=\"3\""},
        {"a=\"1\" b=\"2\"", "B", "", "a=\"1\" B=\"\""},
        {"", "b", "x", "b=\"x\""},
        {"a=\"1\" ", "b", "x", "a=\"1\" b=\"x\""},
        {"a=\"1\"", "b", "<\">", "a=\"1\" b=\"&#60;&#34;&#62;\""},
        {"a=\"open", "a", "v", "a=\"v\""},
    };
    for (const Case& c : cases) {
        TfsXMLItem item;
        item.Text = c.text;
        item.Prop(c.name, c.value);
        EXPECT_EQ(item.Text, c.after) << c.text;
        EXPECT_EQ(item.Prop(c.name), c.value);
    }
}

// ---- Tree ---------------------------------------------------------------------------------

class XmlTree : public ::testing::Test {
protected:
    // root(a, b(c), d)
    void SetUp() override {
        a = root.Add();
        a->Name = "a";
        b = root.Add();
        b->Name = "b";
        c = b->Add();
        c->Name = "c";
        d = root.Add();
        d->Name = "d";
    }
    TfsXMLItem root;
    TfsXMLItem *a, *b, *c, *d;
};

TEST_F(XmlTree, AddItemMovesAndInsertItemPlaces) {
    root.AddItem(c);
    EXPECT_EQ(Dump(&root), "(a,b,d,c)");
    EXPECT_EQ(c->Parent(), &root);
    root.AddItem(a); // a child of the same element moves to the end
    EXPECT_EQ(Dump(&root), "(b,d,c,a)");
    root.InsertItem(0, a);
    EXPECT_EQ(Dump(&root), "(a,b,d,c)");
    b->InsertItem(0, d);
    EXPECT_EQ(Dump(&root), "(a,b(d),c)");
    EXPECT_EQ(d->Root(), &root);
    EXPECT_EQ(ErrorOf([&] { root.InsertItem(5, b); }), "EListError: List index out of bounds (5)");
    EXPECT_EQ(Dump(&root), "(a,b(d),c)");
    EXPECT_EQ(ErrorOf([&] { root.Items(3); }), "EListError: List index out of bounds (3)");
}

TEST_F(XmlTree, RefusesCycles) {
    EXPECT_NE(ErrorOf([&] { c->AddItem(b); }), "");
    EXPECT_NE(ErrorOf([&] { b->AddItem(b); }), "");
    EXPECT_EQ(Dump(&root), "(a,b(c),d)");
    TfsXMLDocument doc;
    EXPECT_NE(ErrorOf([&] { a->AddItem(doc.Root()); }), "");
}

TEST_F(XmlTree, FindAndFindItem) {
    EXPECT_EQ(root.Find("B"), 1);
    EXPECT_EQ(root.Find("c"), -1);
    EXPECT_EQ(root.FindItem("D"), d);
    TfsXMLItem* e = root.FindItem("e");
    EXPECT_EQ(Dump(&root), "(a,b(c),d,e)");
    EXPECT_EQ(root.FindItem("e"), e);
    EXPECT_EQ(root.Count(), 4);
}

TEST_F(XmlTree, DeletingAChildDetachesIt) {
    delete b;
    EXPECT_EQ(Dump(&root), "(a,d)");
    root.Clear();
    EXPECT_EQ(root.Count(), 0);
}

TEST_F(XmlTree, CopyFromCopiesDeeplyIncludingData) {
    b->Text = "x=\"1\"";
    c->Data = this;
    TfsXMLItem copy;
    copy.Add()->Name = "old";
    copy.CopyFrom(b);
    EXPECT_EQ(Dump(&copy), "b[x=\"1\"](c)");
    EXPECT_EQ(copy.Items(0)->Data, this);
    EXPECT_NE(copy.Items(0), c);
    copy.CopyFrom(nullptr);
    EXPECT_EQ(copy.Count(), 0);
}

TEST_F(XmlTree, CopyFromRelatedElements) {
    b->CopyFrom(c); // from a descendant, which clearing would free
    EXPECT_EQ(Dump(&root), "(a,c,d)");
    TfsXMLItem* inner = root.Items(1);
    inner->Add()->Name = "x";
    inner->Items(0)->CopyFrom(&root);              // from an ancestor, which contains the target
    EXPECT_EQ(Dump(&root), "(a,c((a,c(x),d)),d)"); // a snapshot taken after clearing
}

// ---- Reading and writing -------------------------------------------------------------------

TEST(XmlRead, Documents) {
    struct Case {
        const char* name;
        std::string text;
        std::string tree; // Dump of the root, or the error
    };
    const std::string H = "<?xml version=\"1.0\"?>";
    const Case cases[] = {
        {"nested", H + "<a x=\"1\"><b/><c y=\"2\"/></a>", "a[x=\"1\"](b,c[y=\"2\"])"},
        {"blank_before_slash", H + "<a x=\"1\" />", "a[x=\"1\" ]"},
        {"trailing_blank_dropped", H + "<a x=\"1\" ></a>", "a[x=\"1\"]"},
        {"line_break_in_name", H + "<a\nx=\"1\"/>", "a\nx=\"1\""},
        {"text_dropped", H + "\r\n<a>hello<b/> world</a>", "a(b)"},
        {"close_case_insensitive", H + "<A><b></B></a>", "A(b)"},
        {"open_at_end", H + "<a><b>", "a(b)"},
        {"nameless_tag_ends_children", H + "<a><b>< x><c/></a>", "a(b,c)"},
        {"after_root_ignored", H + "<a/><b/>garbage<", "a"},
        {"header_only", H, ""},
        {"short_header", "<?xml?><a/>", "a"},
        {"comments", H + "<!-- <x> -- --><a><!-- y ---><b/>--><c/><!----></a>", "a(c)"},
        {"mismatch", H + "<a><b></a>", "Exception: Invalid file format"},
        {"no_header", "<a/>", "Exception: Invalid file format"},
        {"empty", "", "Exception: Invalid file format"},
        {"lt_in_tag", H + "<a x=\"<\"/>", "Exception: Invalid file format"},
        {"end_in_tag", H + "<a", "Exception: Invalid file format"},
        {"end_in_comment", H + "<a><!-- x", "Exception: Invalid file format"},
        {"bad_reference_is_kept", H + "<a v=\"&#x41;\"/>", "a[v=\"&#x41;\"]"},
    };
    for (const Case& c : cases) {
        TfsXMLDocument doc;
        std::string err = ErrorOf([&] { doc.LoadFromString(c.text); });
        EXPECT_EQ(err.empty() ? Dump(doc.Root()) : err, c.tree) << c.name;
    }
}

TEST(XmlRead, FailureKeepsWhatWasRead) {
    TfsXMLDocument doc;
    EXPECT_NE(ErrorOf([&] { doc.LoadFromString("<?xml?><a><b x=\"1\"/><c></d>"); }), "");
    EXPECT_EQ(Dump(doc.Root()), "a(b[x=\"1\"],c)");
}

TEST(XmlRead, LoadingReplacesRootContentInPlace) {
    TfsXMLDocument doc;
    TfsXMLItem* root = doc.Root();
    doc.LoadFromString("<?xml?><a><b/></a>");
    TfsXMLItem* b = root->Items(0);
    (void)b;
    doc.LoadFromString("<?xml?><x y=\"1\"/>");
    EXPECT_EQ(doc.Root(), root);
    EXPECT_EQ(Dump(root), "x[y=\"1\"]");
}

TfsXMLDocument& SampleDocument(TfsXMLDocument& doc) {
    TfsXMLItem* r = doc.Root();
    r->Name = "program";
    TfsXMLItem* v = r->Add();
    v->Name = "var";
    v->SetProp("pos", "1:5");
    TfsXMLItem* s = v->Add();
    s->Name = "string";
    s->SetProp("text", "'a\r\n\"<b>\" a&quot;b &lt; \xE9'");
    s->SetProp("pos", "2:1");
    r->Add()->Name = "types";
    return doc;
}

TEST(XmlWrite, ExactOutputWithAndWithoutIndentation) {
    TfsXMLDocument doc;
    SampleDocument(doc);
    doc.Root()->Items(0)->Items(0)->Text = "t=\"1\"";
    doc.Root()->Items(1)->Text = " k=\"2\""; // starts with a blank: none added
    EXPECT_EQ(doc.SaveToString(),
              "<?xml version=\"1.0\"?><program><var pos=\"1:5\"><string t=\"1\"/></var>"
              "<types k=\"2\"/></program>");
    doc.Indented = true;
    EXPECT_EQ(doc.SaveToString(), "<?xml version=\"1.0\"?>\r\n"
                                  "<program>\r\n"
                                  "  <var pos=\"1:5\">\r\n"
                                  "    <string t=\"1\"/>\r\n"
                                  "  </var>\r\n"
                                  "  <types k=\"2\"/>\r\n"
                                  "</program>\r\n");
}

TEST(XmlWrite, RoundTripKeepsTreeAndValues) {
    for (bool indented : {false, true}) {
        TfsXMLDocument doc;
        SampleDocument(doc).Indented = indented;
        std::string text = doc.SaveToString();
        TfsXMLDocument back;
        back.LoadFromString(text);
        EXPECT_EQ(Dump(back.Root()), Dump(doc.Root()));
        EXPECT_EQ(back.Root()->Items(0)->Items(0)->Prop("text"), "'a\r\n\"<b>\" a\"b &lt; \xE9'");
    }
}

// A document several blocks long, so that tags straddle the 4096-byte reads.
std::string BigDocument(int elements) {
    TfsXMLDocument doc;
    doc.Root()->Name = "program";
    TfsXMLItem* parent = doc.Root();
    for (int i = 0; i < elements; ++i) {
        TfsXMLItem* e = parent->Add();
        e->Name = i % 3 ? "ident" : "expr";
        e->SetProp("text", "v" + std::to_string(i) + "\r\n");
        e->SetProp("pos", std::to_string(i) + ":" + std::to_string(i % 80));
        if (i % 7 == 0) parent = e;
        if (i % 11 == 0 && parent->Parent()) parent = parent->Parent();
    }
    doc.Indented = true;
    return doc.SaveToString();
}

TEST(XmlStream, ReadsBlocksAndStopsAfterTheRootElement) {
    const std::string body = BigDocument(3000);
    ASSERT_GT(body.size(), 40000u);
    std::stringstream ss("junk" + body + "tail");
    ss.seekg(4);
    TfsXMLDocument doc;
    doc.LoadFromStream(ss);
    size_t rootEnd = body.rfind("</program>") + std::string("</program>").size();
    EXPECT_EQ(static_cast<size_t>(ss.tellg()), 4 + rootEnd);

    TfsXMLDocument fromString;
    fromString.LoadFromString(body);
    EXPECT_EQ(Dump(doc.Root()), Dump(fromString.Root()));

    std::stringstream out;
    doc.Indented = true;
    doc.SaveToStream(out);
    EXPECT_EQ(out.str(), body);
}

TEST(XmlStream, FailureStillRepositionsTheStream) {
    std::stringstream ss("<?xml?><a><b></c>rest");
    TfsXMLDocument doc;
    EXPECT_NE(ErrorOf([&] { doc.LoadFromStream(ss); }), "");
    EXPECT_EQ(ss.tellg(), 17);
}

TEST(XmlFile, SaveAndLoad) {
    auto dir =
        std::filesystem::temp_directory_path() / ("pt_xml_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string file = (dir / "doc.xml").string();
    TfsXMLDocument doc;
    SampleDocument(doc);
    doc.SaveToFile(file);
    TfsXMLDocument back;
    back.LoadFromFile(file);
    EXPECT_EQ(Dump(back.Root()), Dump(doc.Root()));
    std::string missing = (dir / "missing.xml").string();
    EXPECT_EQ(ErrorOf([&] { back.LoadFromFile(missing); }),
              "EFOpenError: Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_EQ(ErrorOf([&] {
                  back.SaveToFile((dir / "no" / "x.xml").string());
              }).rfind("EFCreateError: Cannot create file", 0),
              0u);
    std::filesystem::remove_all(dir);
}

TEST(XmlDepth, DeepNestingNeedsNoStack) {
    const int depth = 200000;
    std::string text = "<?xml?>";
    for (int i = 0; i < depth; ++i) text += "<a>";
    auto doc = std::make_unique<TfsXMLDocument>();
    doc->LoadFromString(text);
    std::string saved = doc->SaveToString();
    EXPECT_EQ(saved.size(), 21 + (depth - 1) * 7 + 4);
    TfsXMLItem copy;
    copy.CopyFrom(doc->Root());
    int levels = 0;
    for (TfsXMLItem* e = &copy; e->Count(); e = e->Items(0)) ++levels;
    EXPECT_EQ(levels, depth - 1);
    doc.reset();
}

} // namespace
} // namespace pt
