#include <gtest/gtest.h>

#include "common/Classes.h"

namespace pt {
namespace {

class TSample : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    using TComponent::TComponent;
    int32_t Count = 0;
    double Ratio = 0;
    bool Enabled = false;
    std::string Caption;
    TComponent* Link = nullptr;
    int32_t Fixed() const { return 7; }
};

constinit const TPropInfo TSample::PublishedProps[] = {
    Published<tkInteger, &TSample::Count>("Count"),
    Published<tkFloat, &TSample::Ratio>("Ratio"),
    PublishedEnum<&TSample::Enabled>("Enabled", BooleanType),
    Published<tkString, &TSample::Caption>("Caption"),
    Published<tkClass, &TSample::Link>("Link", &TComponent::ClassInfo),
    Published<tkInteger, &TSample::Fixed>("Fixed"),
    Published<tkString, &TSample::Caption>("Tag"), // redeclares an inherited name
};
constinit const TClassInfo TSample::ClassInfo{"TSample", &TComponent::ClassInfo,
                                              TSample::PublishedProps};

TEST(Reflection, FindsPropertiesByNameAlongTheAncestors) {
    TSample s;
    ASSERT_NE(GetPropInfo(s, "count"), nullptr);
    EXPECT_EQ(GetPropInfo(s, "COUNT")->Kind, tkInteger);
    EXPECT_EQ(GetPropInfo(s, "Name")->Kind, tkString); // from TComponent
    EXPECT_EQ(GetPropInfo(s, "Tag")->Kind, tkString);  // the redeclaration wins
    EXPECT_EQ(GetPropInfo(s, "Nope"), nullptr);
    EXPECT_EQ(s.ClassName(), "TSample");
    EXPECT_TRUE(s.InheritsFrom(TComponent::ClassInfo));
    EXPECT_FALSE(s.InheritsFrom(TStrings::ClassInfo));

    auto list = GetPropList(TSample::ClassInfo);
    int tags = 0;
    for (auto* p : list) tags += p->Name == "Tag";
    EXPECT_EQ(tags, 1);
    EXPECT_EQ(list.size(), 8u); // Name, Tag, then the six new ones
}

TEST(Reflection, TypedAccessReadsAndWritesTheObject) {
    TSample s;
    SetOrdProp(s, *GetPropInfo(s, "Count"), 42);
    SetFloatProp(s, *GetPropInfo(s, "Ratio"), 0.5);
    SetOrdProp(s, *GetPropInfo(s, "Enabled"), GetEnumValue(BooleanType, "true"));
    SetStrProp(s, *GetPropInfo(s, "Name"), "frm");
    EXPECT_EQ(s.Count, 42);
    EXPECT_EQ(s.Ratio, 0.5);
    EXPECT_TRUE(s.Enabled);
    EXPECT_EQ(s.Name(), "frm");
    EXPECT_EQ(GetEnumName(BooleanType, GetOrdProp(s, *GetPropInfo(s, "Enabled"))), "True");
    EXPECT_EQ(GetOrdProp(s, *GetPropInfo(s, "Fixed")), 7);
}

TEST(Reflection, RefusesReadOnlyWrongKindAndWrongClass) {
    TSample s;
    EXPECT_FALSE(GetPropInfo(s, "Fixed")->HasSetter());
    EXPECT_THROW(SetOrdProp(s, *GetPropInfo(s, "Fixed"), 1), EPropertyError);
    EXPECT_THROW(SetStrProp(s, *GetPropInfo(s, "Count"), "1"), EPropertyError);
    TStringList notAComponent;
    EXPECT_THROW(SetObjectProp(s, *GetPropInfo(s, "Link"), &notAComponent), EPropertyError);
    TComponent c;
    SetObjectProp(s, *GetPropInfo(s, "Link"), &c);
    EXPECT_EQ(s.Link, &c);
    EXPECT_EQ(GetObjectProp(s, *GetPropInfo(s, "Link")), &c);
    s.Link = nullptr;
}

TEST(Component, OwnerFindsAndDeletesItsComponents) {
    auto* owner = new TComponent;
    auto* a = new TSample(owner);
    a->SetName("edtExpr");
    auto* b = new TComponent(a);
    b->SetName("inner");
    EXPECT_EQ(owner->FindComponent("EDTEXPR"), a);
    EXPECT_EQ(owner->FindComponent("inner"), nullptr); // only directly owned ones
    EXPECT_THROW((new TComponent(owner))->SetName("edtexpr"), EPropertyError);
    EXPECT_EQ(owner->ComponentCount(), 2);
    delete b; // leaves its owner's list
    EXPECT_EQ(a->ComponentCount(), 0);
    delete owner; // deletes a and the unnamed one; ASan reports leaks or double frees
}

TEST(StringList, TextSplitsAtEveryLineBreak) {
    struct Case {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\rc", {"a", "b", "c"}},
        {"\r\n", {""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        TStringList l;
        l.SetText(c.text);
        ASSERT_EQ(l.Count(), static_cast<int>(c.lines.size())) << c.text;
        for (int i = 0; i < l.Count(); ++i) EXPECT_EQ(l[i], c.lines[i]);
    }
    TStringList l{"x := 1;", "y := 2;"};
    EXPECT_EQ(l.Text(), "x := 1;\r\ny := 2;\r\n");
}

TEST(StringList, CommaTextValuesSortingAndChanges) {
    TStringList l{"a b", "c", "d\"e"};
    EXPECT_EQ(l.CommaText(), "\"a b\",c,\"d\"\"e\"");
    TStringList back;
    back.SetCommaText(l.CommaText());
    EXPECT_EQ(back.Text(), l.Text());

    TStringList v{"x=1", "y=2"};
    EXPECT_EQ(v.Values("X"), "1");
    v.SetValues("x", "");
    EXPECT_EQ(v.Count(), 1);
    EXPECT_EQ(v.IndexOfName("y"), 0);

    int changes = 0;
    TStringList s;
    s.OnChange = [&](TStrings&) { ++changes; };
    s.Add("b");
    s.Add("a");
    s.SetSorted(true);
    EXPECT_EQ(s[0], "a");
    EXPECT_EQ(s.Add("B"), 1); // dupIgnore: the equal entry's position
    EXPECT_EQ(s.Count(), 2);
    s.SetDuplicates(dupError);
    EXPECT_THROW(s.Add("a"), EListError);
    EXPECT_THROW(s.Get(2), EListError);
    int before = changes;
    s.SetText("1\r\n2\r\n3");
    EXPECT_EQ(changes, before + 1); // one notification for the whole text
}

} // namespace
} // namespace pt
