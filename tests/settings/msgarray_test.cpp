#include <gtest/gtest.h>

#include "settings/MsgArray.h"

namespace pt {
namespace {

class MsgArrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto r : PluginMessageRecords) table.MessagesArray().Add(std::string(r));
    }
    TMsgArray table;
};

TEST_F(MsgArrayTest, FindsRecordsByIdentifierWithoutRegardToCase) {
    EXPECT_EQ(table.MessageText("msgcompile"), "\"%s\" script has been compiled successfully");
    EXPECT_EQ(table.MessageText("MSGEXECERR"), "Unable to execute \"%s\" script: %s");
    EXPECT_EQ(table.MessageField("MsgDiscard", 4), "D");
    EXPECT_EQ(table.MessageField("MsgDiscard", 0), "MsgDiscard");
    try {
        table.MessageText("Nope");
        FAIL() << "no error";
    } catch (const EMsgArrayError& e) {
        EXPECT_STREQ(e.what(), "Invalid message ID [Nope]");
    }
}

TEST_F(MsgArrayTest, ViewsFollowRecordsAndWriteBack) {
    table.MessagesArray().Add("Later||a%0Db||cap||x||Y||||||res||tail");
    table.MessagesArray().Add("later||second wins");
    EXPECT_EQ(table.MessageText("LATER"), "second wins");
    EXPECT_EQ(table.MessageField("MsgCompile", 1), table.MessagesText()[0]);
    ASSERT_EQ(table.MessagesText().Count(), 6);
    EXPECT_EQ(table.MessagesText()[4], "a%0Db");
    EXPECT_EQ(table.MessagesCaption()[4], "cap");
    EXPECT_EQ(table.DontShowAgainText()[4], "Y");
    EXPECT_EQ(table.LastDialogsResult()[4], "res");
    EXPECT_EQ(table.DontShowAgainText()[5], "D"); // anything but N and Y

    // A translated view is written back into the records; field 8 is dropped.
    table.MessagesText().Put(4, "c%0Ad");
    EXPECT_EQ(table.MessagesArray()[4], "Later||c%0Ad||cap||x||Y||||||res||");
    table.MessagesText().Put(0, "\"%s\" übersetzt");
    EXPECT_EQ(table.MessageText("MsgCompile"), "\"%s\" übersetzt");

    // "%0D" and "%0A" (upper case only) become CR and LF.
    table.MessagesArray().Add("Br||a%0Db%0ac");
    EXPECT_EQ(table.MessageText("Br"), "a\rb%0ac");
    EXPECT_EQ(table.ButtonCaptions().Count(), 12);
    EXPECT_EQ(table.ButtonCaptions()[8], "N&o to All");
}

} // namespace
} // namespace pt
