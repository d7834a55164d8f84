#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/StdCtrls.h"
#include "platform/FileUtil.h"
#include "platform/FormatSettings.h"
#include "platform/IniFiles.h"
#include "platform/Registry.h"
#include "settings/TWregistry.h"
#include "support/TempFolder.h"

namespace pt {
namespace {

using test::TempFolder;

TEST(StoredText, EncodesAndDecodes) {
    struct Case {
        std::string plain, stored;
    } cases[] = {
        {"  a b  ", "++a b++"},
        {"x := 1;\r\ny := 2;\r\n", "x := 1;%0d%0ay := 2;%0d%0a"},
        {"50%+", "50%%%2b"},
        {"   ", "+++"},
        {"", ""},
        {std::string("a\0b", 3), "a%00b"},
        {"%41", "%%41"},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeStoredText(c.plain), c.stored);
        EXPECT_EQ(DecodeStoredText(c.stored), c.plain);
    }
    struct Decode {
        const char* stored;
        const char* plain;
    } decodes[] = {{"%zz", "%zz"}, {"%41", "A"},     {"%4", "%4"}, {"%", "%"},
                   {"a+b", "a b"}, {"%4a%4A", "JJ"}, {"%%%", "%%"}};
    for (const auto& d : decodes) EXPECT_EQ(DecodeStoredText(d.stored), d.plain) << d.stored;
}

TEST(StoredText, NumbersInIniText) {
    EXPECT_EQ(StoredTextToInt("42"), 42);
    EXPECT_EQ(StoredTextToInt("-7"), -7);
    EXPECT_EQ(StoredTextToInt("$1F"), 31);
    EXPECT_EQ(StoredTextToInt("x1f"), 31);
    EXPECT_EQ(StoredTextToInt("0x10"), 16);
    EXPECT_EQ(StoredTextToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(StoredTextToInt("abc"), 0);
    EXPECT_EQ(StoredTextToInt("12abc"), 0);
    EXPECT_EQ(StoredTextToInt("99999999999"), 0);
    EXPECT_EQ(StoredTextToFloat("1,5"), 1.5);
    EXPECT_EQ(StoredTextToFloat("1.5"), 1.5);
    EXPECT_EQ(StoredTextToFloat("nope"), 0.0);
}

// A form-like root with controls, as the options dialog has them.
class TTestForm : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    using TComponent::TComponent;
    int32_t Top = 1;
    double Ratio = 0;
    bool Visible = false;
    std::string Caption = "keep";
    TComponent* Link = nullptr;
    Variant Data;
    char Initial = 'q';
    TStringList* LinesPtr() const { return &lines_; }
    TStringList& Lines() { return lines_; }

private:
    mutable TStringList lines_;
};

constinit const TPropInfo TTestForm::PublishedProps[] = {
    Published<tkInteger, &TTestForm::Top>("Top"),
    Published<tkFloat, &TTestForm::Ratio>("Ratio"),
    PublishedEnum<&TTestForm::Visible>("Visible", BooleanType),
    Published<tkString, &TTestForm::Caption>("Caption"),
    Published<tkClass, &TTestForm::Link>("Link", &TComponent::ClassInfo),
    Published<tkClass, &TTestForm::Link>("DockSite", &TComponent::ClassInfo),
    Published<tkVariant, &TTestForm::Data>("Data"),
    Published<tkChar, &TTestForm::Initial>("Initial"),
    Published<tkClass, &TTestForm::LinesPtr>("Lines"),
};
constinit const TClassInfo TTestForm::ClassInfo{"TTestForm", &TComponent::ClassInfo,
                                                TTestForm::PublishedProps};

class WregTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = new TTestForm;
        form->SetName("frmOption");
        edit = new TTestForm(form);
        edit->SetName("edtExpr");
        combo = new TCustomComboBox(form);
        combo->SetName("comboType");
        combo->Items().SetText("PascalScript\nC++Script\nJScript\nBasicScript");
    }
    void TearDown() override { delete form; }

    TWreg& Store(std::initializer_list<std::string> entries, std::string ini = {},
                 std::string prefix = {}) {
        store = std::make_unique<TWreg>();
        store->RegistryPath = "\\Software\\Pipetask\\Test\\";
        store->INIFile = std::move(ini);
        store->INIFileSectionPrefix = std::move(prefix);
        for (const auto& e : entries) store->Components().Add(e);
        return *store;
    }

    TempFolder tmp;
    TTestForm* form = nullptr;
    TTestForm* edit = nullptr;
    TCustomComboBox* combo = nullptr;
    std::unique_ptr<TWreg> store;
};

TEST_F(WregTest, IniRoundTripOfEveryKindInSectionsNamedByPrefix) {
    std::string ini = tmp.File("cfg.ini");
    auto& w = Store({"Top,Top", "Ratio,Ratio", "Visible,Visible", "Caption,Sub\\Caption",
                     "edtExpr.Lines,Script", "Initial, Deep \\ Er \\ Initial ", ";---short---",
                     "   ", "Data,Data"},
                    ini, "P");
    form->Top = 42;
    form->Ratio = 2.5;
    form->Visible = true;
    form->Caption = "  a b  ";
    form->Initial = '+';
    form->Data = Variant(int32_t(5));
    edit->Lines().SetText("x := 1;\r\ny := 2;");
    ASSERT_TRUE(w.SaveProperties(form));

    TIniFile file(ini);
    EXPECT_EQ(file.ReadString("P.Common", "Top", "?"), "42");
    EXPECT_EQ(file.ReadString("P.Common", "Ratio", "?"), "2.5");
    EXPECT_EQ(file.ReadString("P.Common", "Visible", "?"), "True");
    EXPECT_EQ(file.ReadString("P.Sub", "Caption", "?"), "++a b++");
    EXPECT_EQ(file.ReadString("P.Common", "Script", "?"), "x := 1;%0d%0ay := 2;%0d%0a");
    EXPECT_EQ(file.ReadString("P.Deep.Er", "Initial", "?"), "%2b");
    EXPECT_EQ(file.ReadString("P.Common", "Data", "?"), "5");

    TTestForm* other = new TTestForm;
    TTestForm* otherEdit = new TTestForm(other);
    otherEdit->SetName("edtExpr");
    ASSERT_TRUE(w.LoadProperties(other));
    EXPECT_EQ(other->Top, 42);
    EXPECT_EQ(other->Ratio, 2.5);
    EXPECT_TRUE(other->Visible);
    EXPECT_EQ(other->Caption, "  a b  ");
    EXPECT_EQ(other->Initial, '+');
    EXPECT_EQ(otherEdit->Lines().Text(), "x := 1;\r\ny := 2;\r\n");
    ASSERT_EQ(other->Data.Kind(), varString);
    EXPECT_EQ(other->Data.StrView(), "5");
    delete other;
}

TEST_F(WregTest, IniFloatsUseTheLocaleSeparatorAndReadEither) {
    TFormatSettings comma = DefaultFormatSettings();
    comma.DecimalSeparator = ',';
    SetFormatSettings(comma);
    std::string ini = tmp.File("f.ini");
    auto& w = Store({"Ratio,Ratio"}, ini);
    form->Ratio = 1.5;
    bool saved = w.SaveProperties(form);
    SetFormatSettings(DefaultFormatSettings());
    ASSERT_TRUE(saved);
    EXPECT_EQ(TIniFile(ini).ReadString("Common", "Ratio", "?"), "1,5");
    form->Ratio = 2.25;
    ASSERT_TRUE(w.SaveProperties(form));
    EXPECT_EQ(TIniFile(ini).ReadString("Common", "Ratio", "?"), "2.25");
    TempFolder::Write(ini, "[Common]\nRatio=0,5\n");
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Ratio, 0.5);
}

TEST_F(WregTest, IniTextsThatAreNoNumbersReadAsZero) {
    std::string ini = tmp.File("n.ini");
    TempFolder::Write(ini, "[Common]\nTop=abc\nRatio=1,25\nVisible=Maybe\n");
    auto& w = Store({"Top,Top", "Ratio,Ratio", "Visible,Visible"}, ini);
    form->Visible = true;
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Top, 0);
    EXPECT_EQ(form->Ratio, 1.25);
    EXPECT_TRUE(form->Visible); // an unknown name changes nothing
    EXPECT_EQ(TempFolder::Read(ini), "[Common]\nTop=abc\nRatio=1,25\nVisible=Maybe\n");
}

TEST_F(WregTest, MissingIniFileLoadsFromTheRegistryAndSaveCreatesIt) {
    std::string ini = tmp.File("later.ini");
    auto& reg = Store({"Top,Top"});
    form->Top = 77;
    ASSERT_TRUE(reg.SaveProperties(form));
    form->Top = 0;
    auto& w = Store({"Top,Top"}, ini);
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Top, 77);
    EXPECT_FALSE(FileExists(ini));
    form->Top = 5;
    ASSERT_TRUE(w.SaveProperties(form));
    EXPECT_EQ(TempFolder::Read(ini), "[Common]\r\nTop=5\r\n\r\n");
}

TEST_F(WregTest, RegistryKeysAndStoredTypes) {
    auto& w = Store({"Top,Top", "Ratio,Ratio", "Caption,Sub\\Caption", ";---short---", ""});
    form->Top = -3;
    form->Ratio = 0.25;
    ASSERT_TRUE(w.SaveProperties(form));
    TRegistry reg(TRegRootKey::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("Software\\Pipetask\\Test", false));
    EXPECT_EQ(reg.ReadInteger("Top"), -3);
    EXPECT_EQ(reg.ReadFloat("Ratio"), 0.25);
    EXPECT_EQ(reg.GetValueNames().size(), 2u); // the comment and the blank line add nothing
    ASSERT_TRUE(reg.OpenKey("Software\\Pipetask\\Test\\Sub", false));
    EXPECT_EQ(reg.ReadString("Caption"), "keep");
}

TEST_F(WregTest, WrongRegistryTypeIsDeletedOnLoad) {
    {
        TRegistry reg(TRegRootKey::HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(reg.OpenKey("Software\\Pipetask\\Test", true));
        reg.WriteString("Top", "12");
        reg.WriteInteger("Ratio", 1);
        reg.WriteString("Visible", "Maybe");
    }
    auto& w = Store({"Top,Top", "Ratio,Ratio", "Visible,Visible"});
    form->Top = 9;
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Top, 9);
    TRegistry reg(TRegRootKey::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("Software\\Pipetask\\Test", false));
    EXPECT_FALSE(reg.ValueExists("Top"));
    EXPECT_FALSE(reg.ValueExists("Ratio"));
    EXPECT_FALSE(reg.ValueExists("Visible"));
}

TEST_F(WregTest, UnwritableLocalMachineFallsBackToCurrentUser) {
    auto& w = Store({"Top,Top"});
    form->Top = 11;
    ASSERT_TRUE(w.SaveProperties(form)); // lands in HKLM while it is writable
    ASSERT_EQ(chmod(tmp.Hklm().c_str(), 0555), 0);
    form->Top = 22;
    ASSERT_TRUE(w.SaveProperties(form));
    TRegistry cu(TRegRootKey::HKEY_CURRENT_USER);
    ASSERT_TRUE(cu.OpenKey("Software\\Pipetask\\Test", false));
    EXPECT_EQ(cu.ReadInteger("Top"), 22);
    form->Top = 0;
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Top, 22); // not the 11 that HKLM still holds

    w.SecondRegistryRoot = rrNone;
    EXPECT_FALSE(w.SaveProperties(form));
    EXPECT_FALSE(w.LoadProperties(form));
    w.RegistryRoot = rrNone;
    w.SecondRegistryRoot = rrHKEY_CURRENT_USER;
    EXPECT_FALSE(w.LoadProperties(form)); // no first root fails the operation
}

TEST_F(WregTest, ComponentReferencesAndEmptyTexts) {
    std::string ini = tmp.File("refs.ini");
    auto& w = Store({"Link,Link", "Caption,Caption", "DockSite,Dock"}, ini);
    form->Link = combo;
    form->Caption = "";
    ASSERT_TRUE(w.SaveProperties(form));
    TIniFile file(ini);
    EXPECT_EQ(file.ReadString("Common", "Link", "?"), "frmOption.comboType");
    EXPECT_EQ(file.ReadString("Common", "Caption", "?"), ""); // an empty text is stored

    form->Link = nullptr;
    form->Caption = "x";
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Link, combo);
    EXPECT_EQ(form->Caption, "");

    // No referenced component deletes the stored value; loading leaves the property.
    form->Link = nullptr;
    ASSERT_TRUE(w.SaveProperties(form));
    EXPECT_FALSE(TIniFile(ini).ValueExists("Common", "Link"));
    form->Link = edit;
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Link, edit);

    // "[[Null]]" clears a reference, except for docking properties.
    TempFolder::Write(ini, "[Common]\nLink=[[Null]]\nDock=[[Null]]\n");
    auto& dock = Store({"DockSite,Dock"}, ini);
    ASSERT_TRUE(dock.LoadProperties(form));
    EXPECT_EQ(form->Link, edit);
    auto& only = Store({"Link,Link"}, ini);
    ASSERT_TRUE(only.LoadProperties(form));
    EXPECT_EQ(form->Link, nullptr);
}

TEST_F(WregTest, PathsThatNameNothingAndTheHook) {
    std::string ini = tmp.File("hook.ini");
    TempFolder::Write(ini, "[Common]\nGhost=boo\nTop=5\n");
    auto& w = Store({"nothing.Top,Ghost", "Top.Deeper,Top", ",Empty", "Top,Top"}, ini);
    std::vector<std::pair<std::string, int>> seen;
    w.BeforeProcessItem = [&](TWreg&, const std::string& name, int index, bool& require,
                              bool& isVirtual, TTypeKind& kind) {
        seen.emplace_back(name, index);
        if (index == 3) require = false; // skip Top
        (void)isVirtual;
        (void)kind;
    };
    std::vector<std::string> values;
    w.SetValue = [&](TWreg&, const std::string&, int, const Variant& v) {
        values.emplace_back(v.StrView());
    };
    form->Top = 1;
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Top, 1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::pair<std::string, int>("", 0))); // no object: empty name
    EXPECT_EQ(seen[1].second, 1);
    EXPECT_TRUE(values.empty()); // virtual entries of unknown kind are skipped

    // A hook that gives a virtual entry a kind lets SetValue / GetValue serve it.
    w.BeforeProcessItem = [](TWreg&, const std::string&, int index, bool& require, bool&,
                             TTypeKind& kind) {
        if (index == 0) require = true, kind = tkString;
    };
    ASSERT_TRUE(w.LoadProperties(form));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0], "boo");
    w.GetValue = [](TWreg&, const std::string&, int, Variant& v) { v = Variant(int32_t(8)); };
    ASSERT_TRUE(w.SaveProperties(form));
    EXPECT_EQ(TIniFile(ini).ReadString("Common", "Ghost", "?"), "8");
}

TEST_F(WregTest, CustomHandlerStoresTheComboSelection) {
    std::string ini = tmp.File("combo.ini");
    auto& w = Store({"comboType.*itemindex,Language"}, ini);
    combo->SetItemIndex(2);
    ASSERT_TRUE(w.SaveProperties(form));
    EXPECT_EQ(TIniFile(ini).ReadString("Common", "Language", "?"), "2");
    combo->SetItemIndex(0);
    ASSERT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(combo->ItemIndex(), 2);
    for (const char* ignored : {"", "abc"}) {
        TempFolder::Write(ini, std::string("[Common]\nLanguage=") + ignored + "\n");
        ASSERT_TRUE(w.LoadProperties(form));
        EXPECT_EQ(combo->ItemIndex(), 2) << ignored;
    }
}

TEST_F(WregTest, MalformedAndUnreadableStoresNeverCrash) {
    std::string ini = tmp.File("junk.ini");
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 131) % 256);
    junk += "\n[Common]\nTop=" + std::string(100000, '9') + "\n";
    TempFolder::Write(ini, junk);
    auto& w = Store({"Top,Top", "Caption,Caption", "edtExpr.Lines,Script"}, ini);
    EXPECT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(form->Top, 0); // a number too large for an integer reads as 0
    edit->Lines().SetText(std::string(1 << 20, 'x'));
    EXPECT_TRUE(w.SaveProperties(form));
    EXPECT_TRUE(w.LoadProperties(form));
    EXPECT_EQ(edit->Lines()[0].size(), 1u << 20);

    // A folder named like the INI file: the read error reaches the caller.
    auto& dir = Store({"Top,Top"}, tmp.Path());
    EXPECT_THROW(dir.LoadProperties(form), EIniFileException);
}

// Two processes save their own keys into one INI file many times; the named lock keeps every
// read-modify-write whole, so no key is lost.
TEST_F(WregTest, TwoProcessesSavingToOneIniFileLoseNothing) {
    std::string ini = tmp.File("shared.ini");
    constexpr int kKeys = 10, kRounds = 40;
    auto run = [&](const std::string& tag) {
        TWreg w;
        w.INIFile = ini;
        for (int k = 0; k < kKeys; ++k) w.Components().Add("Top," + tag + std::to_string(k));
        TTestForm f;
        for (int r = 1; r <= kRounds; ++r) {
            f.Top = r;
            if (!w.SaveProperties(&f)) return false;
        }
        return true;
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(run("B") ? 0 : 1);
    bool ok = run("A");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    TIniFile file(ini);
    for (const char* tag : {"A", "B"})
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(file.ReadString("Common", tag + std::to_string(k), "missing"),
                      std::to_string(kRounds))
                << tag << k;
}

} // namespace
} // namespace pt
