#include "ScriptConfig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace pt::host {
namespace {

TEST(ScriptConfigTest, StoredTextEncoding) {
    struct Case {
        const char* text;
        const char* stored;
    } cases[] = {
        {"  a b  ", "++a b++"},
        {"x := 1;\r\ny := 2;\r\n", "x := 1;%0d%0ay := 2;%0d%0a"},
        {"50%+", "50%%%2b"},
        {"\ttab", "%09tab"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(encodeStoredText(c.text), c.stored) << c.text;
}

TEST(ScriptConfigTest, StringListTextEndsEveryLine) {
    EXPECT_EQ(stringListText("a\nb"), "a\r\nb\r\n");
    EXPECT_EQ(stringListText("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(stringListText("a\n\nb\n"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(stringListText(""), "");
}

TEST(ScriptConfigTest, IniTextAndSection) {
    EXPECT_EQ(scriptIniText("begin\n  x := 1;\nend.\n", 0, ""),
              "[Common]\r\nScript=begin%0d%0a  x := 1;%0d%0aend.%0d%0a\r\nLanguage=0\r\n\r\n");
    EXPECT_EQ(scriptIniText("a", 3, "P\\Q"),
              "[P.Q.Common]\r\nScript=a%0d%0a\r\nLanguage=3\r\n\r\n");
}

TEST(ScriptConfigTest, LanguagesByNameAndExtension) {
    EXPECT_EQ(languageOfFile("dir.x/conv.PAS"), 0);
    EXPECT_EQ(languageOfFile("a.cpp"), 1);
    EXPECT_EQ(languageOfFile("a.js"), 2);
    EXPECT_EQ(languageOfFile("a.vb"), 3);
    EXPECT_FALSE(languageOfFile("dir.pas/script"));
    EXPECT_FALSE(languageOfFile("a.txt"));
    EXPECT_EQ(languageIndex("JScript"), 2);
    EXPECT_FALSE(languageIndex("pascalscript")); // names are exact
}

TEST(ScriptConfigTest, TempFileHoldsContentAndIsRemoved) {
    std::string path;
    {
        TempFile f("pipetask-test", ".ini", "content");
        path = f.path();
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        EXPECT_EQ(ss.str(), "content");
        EXPECT_EQ(path.substr(path.size() - 4), ".ini");
    }
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0);
}

} // namespace
} // namespace pt::host
