#include <gtest/gtest.h>

#include "platform/IniFiles.h"
#include "platform/Registry.h"
#include "processing/CfgOptionsProxy.h"
#include "support/TempFolder.h"

namespace pt {
namespace {

using test::TempFolder;

class CfgTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.RegistryPath = "\\Software\\Pipetask\\Source 1";
        module = new TComponent;
        cfg = new TDataSourceCfg(module, settings);
    }
    void TearDown() override { delete module; }
    TempFolder tmp;
    TModuleSettings settings;
    TComponent* module = nullptr;
    TDataSourceCfg* cfg = nullptr;
};

TEST_F(CfgTest, EmptyStoreKeepsTheInitialValues) {
    EXPECT_FALSE(cfg->Load()); // nothing stored yet: the key opens under neither root
    EXPECT_EQ(cfg->Top, 184);
    EXPECT_EQ(cfg->Left, 314);
    EXPECT_EQ(cfg->Width, 463);
    EXPECT_EQ(cfg->Height, 278);
    EXPECT_EQ(cfg->fsTree1_Width, 157);
    ASSERT_EQ(cfg->edtExpr_Lines().Count(), 1);
    EXPECT_EQ(cfg->edtExpr_Lines()[0], "");
    EXPECT_EQ(cfg->comboType_ItemIndex, 0);
    EXPECT_FALSE(settings.SettingsBusy());
}

TEST_F(CfgTest, SaveWritesTheSevenKeysIntoPrefixCommon) {
    settings.INISectionPrefix = "P";
    std::string ini = tmp.File("host.ini");
    cfg->edtExpr_Lines().SetText("x := 1;\r\ny := 2;");
    cfg->comboType_ItemIndex = 2;
    bool busyDuring = false;
    settings.OnBeforeProcessSettingsItem = [&](TWreg&, const std::string&, int, bool&, bool&,
                                               TTypeKind&) {
        busyDuring = settings.SettingsBusy();
    };
    ASSERT_TRUE(settings.SettingsOperation(
        TSettingsKind::skSave,
        [] {
            TStringList l;
            FillSettingsEntryList(l);
            return l;
        }(),
        cfg, ini));
    EXPECT_TRUE(busyDuring);
    EXPECT_FALSE(settings.SettingsBusy());
    EXPECT_EQ(TempFolder::Read(ini), "[P.Common]\r\n"
                                     "Top=184\r\n"
                                     "Left=314\r\n"
                                     "Width=463\r\n"
                                     "Height=278\r\n"
                                     "Editor width=157\r\n"
                                     "Script=x := 1;%0d%0ay := 2;%0d%0a\r\n"
                                     "Language=2\r\n\r\n");

    settings.INIFile = ini;
    TDataSourceCfg back(nullptr, settings);
    EXPECT_TRUE(back.Load());
    EXPECT_EQ(back.edtExpr_Lines().Text(), "x := 1;\r\ny := 2;\r\n");
    EXPECT_EQ(back.comboType_ItemIndex, 2);
}

TEST_F(CfgTest, ShortSaveWritesOnlyTheGeometry) {
    cfg->Top = 10;
    cfg->fsTree1_Width = 99;
    cfg->edtExpr_Lines().SetText("edited");
    ASSERT_TRUE(cfg->SaveShort());
    TRegistry reg(TRegRootKey::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("Software\\Pipetask\\Source 1", false));
    auto names = reg.GetValueNames();
    EXPECT_EQ(names, (std::vector<std::string>{"Top", "Left", "Width", "Height", "Editor width"}));
    EXPECT_EQ(reg.ReadInteger("Editor width"), 99);
}

TEST_F(CfgTest, NegativeLanguageIsCorrectedOnLoad) {
    ASSERT_TRUE(cfg->Save());
    TRegistry reg(TRegRootKey::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("Software\\Pipetask\\Source 1", false));
    reg.WriteInteger("Language", -1);
    EXPECT_FALSE(cfg->Load());
    EXPECT_EQ(cfg->comboType_ItemIndex, 0);
}

} // namespace
} // namespace pt
