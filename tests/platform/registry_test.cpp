#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/Registry.h"
#include "support/TempFolder.h"

namespace pt {
namespace {

using test::TempFolder;

TEST(Registry, TypedValuesStayDistinctAndReadBack) {
    TempFolder tmp;
    TRegistry reg(TRegRootKey::HKEY_CURRENT_USER);
    ASSERT_FALSE(reg.OpenKey("Software\\Acme\\App", false)); // not there yet
    ASSERT_TRUE(reg.OpenKey("\\Software\\Acme\\App\\", true));
    reg.WriteInteger("Top", -184);
    reg.WriteFloat("Ratio", 0.1);
    reg.WriteString("Script", "x := \"1\";\r\n\\n\x01");
    reg.WriteString("", "default");

    TRegistry again(TRegRootKey::HKEY_CURRENT_USER);
    ASSERT_TRUE(again.OpenKey("software\\ACME\\app", false)); // key names ignore case
    EXPECT_EQ(again.ReadInteger("top"), -184);
    EXPECT_EQ(again.ReadFloat("Ratio"), 0.1);
    EXPECT_EQ(again.ReadString("SCRIPT"), "x := \"1\";\r\n\\n\x01");
    EXPECT_EQ(again.ReadString(""), "default");
    EXPECT_EQ(again.ReadValue("Top")->type, REG_DWORD);
    EXPECT_EQ(again.ReadValue("Ratio")->type, REG_BINARY);

    // A value read as another type raises, as does a missing one.
    EXPECT_THROW(again.ReadInteger("Script"), ERegistryException);
    EXPECT_THROW(again.ReadString("Top"), ERegistryException);
    EXPECT_THROW(again.ReadFloat("Top"), ERegistryException);
    EXPECT_THROW(again.ReadInteger("Missing"), ERegistryException);

    EXPECT_TRUE(again.DeleteValue("top"));
    EXPECT_FALSE(again.ValueExists("Top"));
    EXPECT_FALSE(again.DeleteValue("Top"));

    // The key file is readable text.
    std::string text = TempFolder::Read(tmp.Hkcu() + "/Software/Acme/App/.values");
    EXPECT_NE(text.find("\"Ratio\"=hex:9a,99,99,99,99,99,b9,3f"), std::string::npos) << text;
    EXPECT_NE(text.find("@=sz:\"default\""), std::string::npos) << text;
}

TEST(Registry, MalformedKeyFilesNeverCrashAndKeepTheirLines) {
    TempFolder tmp;
    std::string folder = tmp.Hkcu() + "/K";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    std::string junk = "garbage line\n\"Broken=sz:\"x\n\"Short\"=dword:12\n\"Bin\"=hex:zz\n"
                       "\"Good\"=dword:0000002a\n\"Str\"=sz:\"unterminated\n" +
                       std::string("\0\xff\xfe", 3) + "\n\"Odd\"=hex(7):61,00\n";
    TempFolder::Write(folder + "/.values", junk);
    TRegistry reg(TRegRootKey::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("K", false));
    EXPECT_EQ(reg.ReadInteger("Good"), 42);
    EXPECT_FALSE(reg.ValueExists("Short"));
    EXPECT_EQ(reg.ReadValue("Odd")->type, 7u);
    EXPECT_THROW(reg.ReadString("Odd"), ERegistryException);
    reg.WriteString("New", "v");
    std::string after = TempFolder::Read(folder + "/.values");
    EXPECT_NE(after.find("garbage line\n"), std::string::npos);
    EXPECT_NE(after.find("\"Short\"=dword:12\n"), std::string::npos);
    EXPECT_NE(after.find("\"Odd\"=hex(7):61,00\n"), std::string::npos);
    EXPECT_NE(after.find("\"New\"=sz:\"v\""), std::string::npos);
}

TEST(Registry, KeyNamesThatAreNotFileNamesRoundTrip) {
    TempFolder tmp;
    TRegistry reg(TRegRootKey::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("a/b\\.values\\%41", true));
    reg.WriteInteger("x", 1);
    TRegistry back(TRegRootKey::HKEY_CURRENT_USER);
    ASSERT_TRUE(back.OpenKey("a/b", false));
    auto keys = back.GetKeyNames();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], ".values");
    ASSERT_TRUE(back.OpenKey("A/B\\.VALUES\\%41", false));
    EXPECT_EQ(back.ReadInteger("x"), 1);
}

TEST(Registry, RootThatCannotBeWrittenDoesNotOpen) {
    TempFolder tmp;
    TRegistry reg(TRegRootKey::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("Software\\X", true));
    reg.WriteInteger("v", 1);
    ASSERT_EQ(chmod(tmp.Hklm().c_str(), 0555), 0);
    TRegistry ro(TRegRootKey::HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(ro.OpenKey("Software\\X", false));
    EXPECT_FALSE(ro.OpenKey("Software\\Y", true));

    // A root folder that cannot even be created.
    TempFolder::Write(tmp.File("plain"), "x");
    setenv("PIPETASK_REGISTRY_HKLM", tmp.File("plain/registry").c_str(), 1);
    EXPECT_FALSE(ro.OpenKey("Software\\X", true));
}

} // namespace
} // namespace pt
