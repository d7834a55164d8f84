#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/IniFiles.h"
#include "platform/NamedLock.h"
#include "support/TempFolder.h"

namespace pt {
namespace {

using test::TempFolder;

TEST(IniFile, HandWrittenFileKeepsCommentsSpacingAndUnknownSections) {
    TempFolder tmp;
    std::string path = tmp.File("hand.ini");
    TempFolder::Write(path, "; header comment\n"
                            "[Other]\n"
                            "  odd   =  spaced value  \n"
                            "; a comment\n"
                            "no equals sign here\n"
                            "\n\n"
                            "[P.Common]\n"
                            "   Top = 5\n"
                            "Left=7\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("other", "ODD", "?"), "spaced value");
    EXPECT_EQ(ini.ReadString("P.Common", "top", "?"), "5");
    ini.WriteString("P.Common", "Top", "9");     // replaced in place
    ini.WriteString("P.Common", "Left", "7");    // same line: no change
    ini.WriteString("P.Common", "Width", "463"); // appended to its section
    ini.WriteString("New", "K", "v");            // new section at the end
    ASSERT_EQ(ini.UpdateFile(), 0);
    EXPECT_EQ(TempFolder::Read(path), "; header comment\r\n\r\n"
                                      "[Other]\r\n"
                                      "  odd   =  spaced value  \r\n"
                                      "; a comment\r\n"
                                      "no equals sign here\r\n\r\n"
                                      "[P.Common]\r\n"
                                      "Top=9\r\n"
                                      "Left=7\r\n"
                                      "Width=463\r\n\r\n"
                                      "[New]\r\n"
                                      "K=v\r\n\r\n");
}

TEST(IniFile, RewritesOnlyWhenSomethingChanged) {
    TempFolder tmp;
    std::string path = tmp.File("same.ini");
    TempFolder::Write(path, "[S]\nA=1\n");
    TIniFile ini(path);
    ini.WriteString("s", "A", "1"); // the section matches without regard to case
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(ini.UpdateFile(), 0);
    EXPECT_EQ(TempFolder::Read(path), "[S]\nA=1\n"); // untouched, LF endings and all
    EXPECT_TRUE(ini.DeleteKey("S", "A"));
    EXPECT_EQ(ini.UpdateFile(), 0);
    EXPECT_EQ(TempFolder::Read(path), ""); // a section without lines is not written
}

TEST(IniFile, BadInputIsRefusedOrSurvived) {
    TempFolder tmp;
    TIniFile ini;
    static const char raw[] = "\0\xff[\r[]]\n=\n[a\n]x=\n[\xc3\x28]\n k = v = w \n";
    std::string junk(raw, sizeof raw - 1);
    ini.SetText(junk);
    EXPECT_EQ(ini.ReadString("\xc3\x28", "k", "?"), "v = w");
    EXPECT_EQ(ini.ReadString("]", "k", "?"), "?");
    EXPECT_THROW(ini.WriteString("S", "K", "a\r\n[Evil]"), EIniFileException);
    EXPECT_THROW(ini.WriteString("S", "K=", "a"), EIniFileException);
    ini.WriteString("S", "", "empty key"); // an entry with an empty name reads back
    EXPECT_EQ(ini.ReadString("S", "", "?"), "empty key");

    // A folder where the file should be: reading raises.
    EXPECT_THROW(TIniFile{tmp.Path()}, EIniFileException);
}

TEST(NamedLock, NameFollowsTheRuleAndStaysAFileName) {
    EXPECT_EQ(IniFileLockName("/Home/U/My Cfg.INI"), "_home_u_my_cfg_ini");
    std::string longPath(600, 'a');
    std::string name = IniFileLockName(longPath);
    EXPECT_EQ(name.size(), 200u);
    EXPECT_NE(name, IniFileLockName(longPath + "b"));

    TempFolder tmp;
    {
        TNamedLock lock(name);
        EXPECT_TRUE(lock.Held());
        EXPECT_EQ(lock.FilePath(), tmp.Path() + "/run/" + name);
    }
    // A runtime folder that cannot be written: the lock moves to /tmp.
    setenv("XDG_RUNTIME_DIR", tmp.File("missing/folder").c_str(), 1);
    TNamedLock lock("pt_test_lock_fallback");
    EXPECT_TRUE(lock.Held());
    EXPECT_EQ(lock.FilePath(), "/tmp/pt_test_lock_fallback");
    unlink(lock.FilePath().c_str());
}

} // namespace
} // namespace pt
