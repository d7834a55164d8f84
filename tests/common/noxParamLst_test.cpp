#include <gtest/gtest.h>

#include "common/noxParamLst.h"

#include <memory>
#include <set>
#include <string>

using namespace pt;

namespace {

using ListPtr = std::unique_ptr<TnoxParamsList, TnoxParamsListDeleter>;

ListPtr NewList(std::initializer_list<const char*> names = {}) {
    ListPtr l(TnoxParamsList::Create());
    int32_t n = 0;
    for (const char* name : names) l->Add(name, Variant(n++));
    return l;
}

Variant Bytes(std::string_view s) {
    PtValue v{};
    pt_value_set_str(&v, s.data(), static_cast<uint32_t>(s.size()));
    return Variant::Adopt(v);
}

Variant NullValue() {
    PtValue v{};
    v.vt = PT_VAR_NULL;
    return Variant::Adopt(v);
}

std::string Text(const Variant& v) {
    return BoundaryText(v.Raw());
}

} // namespace

TEST(NoxParamsList, IndexOfRangesAndRows) {
    ListPtr l = NewList({"a", "b", PT_NEW_ROW, "c"});
    struct Case {
        const char* name;
        int32_t from, to, expected;
    } cases[] = {
        {"c", 0, -2, -1}, // the row ends before c
        {"c", 0, -1, 3},         {"c", 3, -2, 3}, {"b", 5, -1, -1},       {"c", 0, 99, 3},
        {"a", -7, -1, 0},        {"b", 1, 0, -1}, {"b", 0, 1, 1},         {"a", 1, -1, -1},
        {"$new_row$", 0, -1, 2}, {"B", 0, -2, 1}, {"missing", 0, -1, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(l->IndexOf(c.name, c.from, c.to), c.expected)
            << c.name << " from " << c.from << " to " << c.to;
}

TEST(NoxParamsList, NamesMatchWithoutAsciiCase) {
    ListPtr l = NewList({"COMMAND", "command", "Äpfel", "ÉTÉ"});
    EXPECT_EQ(l->IndexOf("command"), 0);
    EXPECT_EQ(l->IndexOf("CoMmAnD", 1), 1);
    EXPECT_EQ(l->ItemAt(2)->LowerName(), "äpfel");
    EXPECT_EQ(l->ItemAt(3)->LowerName(), "été");
    EXPECT_EQ(l->ItemAt(2)->Name(), "Äpfel"); // the name itself is kept as added
    EXPECT_EQ(l->IndexOf("äPFEL"), 2);
    EXPECT_EQ(l->IndexOf("Äpfel"), -1); // a non-ASCII capital in the search never matches
    EXPECT_EQ(l->IndexOf("été"), 3);
}

TEST(NoxParamsList, AddTrimRuleAndDuplicates) {
    ListPtr l = NewList();
    EXPECT_EQ(l->Add("  ", Variant(1)), nullptr);
    EXPECT_EQ(l->Add("", Variant(1)), nullptr);
    EXPECT_EQ(l->Add("\t\n", Variant(1)), nullptr);
    EXPECT_EQ(l->GetCount(), 0);
    TnoxParamsListItem* framed = l->Add(" x ", Variant(1));
    ASSERT_NE(framed, nullptr);
    EXPECT_EQ(framed->Name(), " x ");
    EXPECT_EQ(framed->State, PT_ITEM_STATE_SET);
    EXPECT_EQ(l->IndexOf("x"), -1);
    EXPECT_EQ(l->IndexOf(" X "), 0);
    l->Add("dup", Variant(1));
    l->Add("DUP", Variant(2));
    EXPECT_EQ(l->GetCount(), 3);
    EXPECT_EQ(l->GetValue("dup").Raw().u.i32, 1); // the first match
    EXPECT_EQ(l->GetValue("dup", 2).Raw().u.i32, 2);
}

TEST(NoxParamsList, TextIsStoredWide) {
    ListPtr l = NewList();
    l->Add("s", Bytes("Grüße €"));
    const Variant& v = l->ItemAt(0)->Value();
    EXPECT_EQ(v.Kind(), varOleStr);
    EXPECT_EQ(v.WideView(), u"Grüße €");
    EXPECT_EQ(Text(l->GetValue("S")), "Grüße €");
    l->SetValue("s", Bytes("x"), false);
    EXPECT_EQ(l->ItemAt(0)->Value().Kind(), varOleStr);
    l->Add("n", Variant(int64_t(5)));
    EXPECT_EQ(l->GetValue("n").Kind(), varInt64); // other kinds are kept
}

TEST(NoxParamsList, SetValueAndGetValue) {
    ListPtr l = NewList({"a"});
    EXPECT_EQ(l->SetValue("b", Variant(7), false), nullptr);
    EXPECT_EQ(l->GetCount(), 1);
    TnoxParamsListItem* b = l->SetValue("b", Variant(7), true);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(l->GetCount(), 2);
    EXPECT_EQ(b->Value().Raw().u.i32, 7);
    EXPECT_EQ(l->SetValue("A", Variant(9), false), l->ItemAt(0));
    EXPECT_EQ(l->GetValue("a").Raw().u.i32, 9);
    EXPECT_EQ(l->SetValue("  ", Variant(1), true), nullptr);
    EXPECT_TRUE(l->GetValue("missing").IsEmpty());
    EXPECT_TRUE(NewList()->GetValue("a").IsEmpty());
}

TEST(NoxParamsList, RowsAddRowAndSplit) {
    ListPtr src = NewList({"a", "b"});
    ListPtr out = NewList();
    EXPECT_TRUE(out->AddRow(src.get()));
    EXPECT_EQ(out->GetCount(), 3);
    EXPECT_TRUE(out->Last()->IsNewRow());
    EXPECT_TRUE(out->Last()->Value().IsNull());
    src->AddNewRow();
    EXPECT_TRUE(out->AddRow(src.get())); // already ends with a marker: no second one
    EXPECT_EQ(out->GetCount(), 6);
    EXPECT_FALSE(out->AddRow(NewList().get()));
    EXPECT_FALSE(out->AddRow(nullptr));
    EXPECT_EQ(out->GetCount(), 6);

    ListPtr row = NewList();
    std::vector<int32_t> sizes;
    for (int32_t next = 0;;) {
        next = out->CopyRow(next, *row);
        if (row->Empty()) break;
        sizes.push_back(row->GetCount());
    }
    EXPECT_EQ(sizes, (std::vector<int32_t>{2, 2}));
}

TEST(NoxParamsList, AddListCopiesAndChecksMagic) {
    ListPtr l = NewList({"a", "b"});
    EXPECT_TRUE(l->AddList(l.get())); // its own items, once
    EXPECT_EQ(l->GetCount(), 4);
    EXPECT_EQ(l->ItemAt(2)->Name(), "a");
    EXPECT_NE(l->ItemAt(2), l->ItemAt(0));
    EXPECT_EQ(l->AddItemCopy(nullptr), nullptr);
    ListPtr bad = NewList({"x"});
    bad->Magic = 0;
    EXPECT_THROW(l->AddList(bad.get()), ENoxListError);
    EXPECT_THROW(bad->IndexOf("x"), ENoxListError);
    EXPECT_THROW(TnoxParamsList::Checked(static_cast<PtParamsList*>(bad.get())), ENoxListError);
    bad->Magic = PT_LIST_MAGIC;
}

TEST(NoxParamsList, DeleteAndPutItemBounds) {
    ListPtr l = NewList({"a", "b", "c"});
    l->Delete(1);
    EXPECT_EQ(l->GetCount(), 2);
    EXPECT_EQ(l->ItemAt(1)->Name(), "c");
    l->Delete(2); // past the end: nothing
    EXPECT_EQ(l->GetCount(), 2);
    EXPECT_THROW(l->Delete(-1), ENoxListError);
    EXPECT_THROW(l->PutItem(2, nullptr), ENoxListError);
    EXPECT_THROW(l->PutItem(-1, nullptr), ENoxListError);
    EXPECT_EQ(l->ItemAt(-1), nullptr);
    EXPECT_EQ(l->ItemAt(2), nullptr);
    l->Clear();
    EXPECT_EQ(l->GetCount(), 0);
    EXPECT_EQ(l->Items, nullptr);
}

TEST(NoxParamsList, IdentityOfNewLists) {
    std::set<std::string> ids;
    for (int i = 0; i < 50; ++i) {
        ListPtr l = NewList();
        std::string id(l->ListIdText());
        ASSERT_EQ(id.size(), 38u);
        EXPECT_EQ(id.front(), '{');
        EXPECT_EQ(id[15], '4');                                         // version 4
        EXPECT_NE(std::string("89AB").find(id[20]), std::string::npos); // variant bits
        EXPECT_EQ(id.find_first_not_of("{}-0123456789ABCDEF"), std::string::npos);
        ids.insert(id);
        EXPECT_EQ(l->Magic, PT_LIST_MAGIC);
        EXPECT_EQ(l->Unused24, nullptr);
    }
    EXPECT_EQ(ids.size(), 50u);
    ListPtr rows(TnoxParamsList::CreateRows());
    EXPECT_TRUE(rows->IsRowsList());
    EXPECT_EQ(rows->ClassName(), "TnoxRowsParamsList");
    EXPECT_FALSE(NewList()->IsRowsList());
}

// The operations that must run in the list owner's code go through its class descriptor: a
// list of "the other side" with its own Grow and Notify sees every call.
namespace {
struct Counts {
    int grow = 0, added = 0, deleted = 0;
} g_counts;
int CountingGrow(PtParamsList* self) {
    ++g_counts.grow;
    return pt_list_grow_default(self);
}
void CountingNotify(PtParamsList*, PtParamsListItem*, int32_t action) {
    (action == PT_NOTIFY_ADDED ? g_counts.added : g_counts.deleted)++;
}
const PtListClass kForeignClass = {"\x0eTnoxParamsList",  CountingGrow,
                                   CountingNotify,        pt_list_clear_default,
                                   pt_list_error_default, pt_list_create_default};
} // namespace

TEST(NoxParamsList, ForeignListsRunTheirOwnOperations) {
    g_counts = {};
    PtParamsList* raw = pt_list_new(&kForeignClass);
    TnoxParamsList* l = TnoxParamsList::Checked(raw);
    for (int i = 0; i < 20; ++i) l->Add("n" + std::to_string(i), Variant(i));
    EXPECT_EQ(g_counts.added, 20);
    EXPECT_GE(g_counts.grow, 2);
    l->Delete(0);
    EXPECT_EQ(g_counts.deleted, 1);
    pt_list_free(raw); // Clear notifies every removal
    EXPECT_EQ(g_counts.deleted, 20);
}

TEST(BoundaryValues, TextAndIntegerReadings) {
    PtValue v{};
    int64_t i = 0;
    pt_value_set_int(&v, -42);
    EXPECT_EQ(BoundaryText(v), "-42");
    EXPECT_TRUE(BoundaryInt(v, i));
    EXPECT_EQ(i, -42);
    Variant w = WideValue(" 140737488355328 ");
    EXPECT_TRUE(BoundaryInt(w.Raw(), i));
    EXPECT_EQ(i, 140737488355328LL);
    EXPECT_FALSE(BoundaryInt(WideValue("12x").Raw(), i));
    EXPECT_FALSE(BoundaryInt(WideValue("").Raw(), i));
    EXPECT_FALSE(BoundaryInt(NullValue().Raw(), i));
    EXPECT_EQ(BoundaryText(NullValue().Raw()), "");
    pt_value_set_bool(&v, 1);
    EXPECT_EQ(BoundaryText(v), "True");
    EXPECT_EQ(AnsiUpper("alarm äöü ÿ"), "ALARM ÄÖÜ Ÿ");
}

TEST(BoundaryValues, Utf16RoundTripAndMalformedBytes) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a é € 😀
    Variant w = WideValue(text);
    EXPECT_EQ(w.WideView().size(), 5u); // the emoji is a surrogate pair
    EXPECT_EQ(BoundaryText(w.Raw()), text);
    Variant bad = WideValue("\xC3(\xFF");
    EXPECT_EQ(bad.WideView(), u"\uFFFD(\uFFFD");
}
