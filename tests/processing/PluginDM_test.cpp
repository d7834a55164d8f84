// TaPlugin through the entry points behind the exports: configuration, the packet handler's
// paths that need no running script, and the host functions called through their handler and
// through the registered items. Scripts running over packets are tested by the C host in
// tests/processing/processing_host_test.c.
#include <gtest/gtest.h>

#include "plugin/noxPluginEntry.h"
#include "plugin/noxPluginRegistry.h"
#include "processing/PluginDM.h"
#include "settings/MsgArray.h"
#include "support/TempFolder.h"

#include <thread>

using namespace pt;

namespace {

using ListPtr = std::unique_ptr<TnoxParamsList, TnoxParamsListDeleter>;
ListPtr NewList() {
    return ListPtr(TnoxParamsList::Create());
}

// A host window whose sends fail: every log line waits for GetLogEx; posts are accepted.
NoxMessageWindow g_hungWindow = [] {
    NoxMessageWindow w{};
    w.magic = NOX_MESSAGE_WINDOW_MAGIC;
    w.post = [](NoxMessageWindow*, uint32_t, uintptr_t, intptr_t) -> int { return 1; };
    w.send = [](NoxMessageWindow*, uint32_t, uintptr_t, intptr_t, uint32_t, intptr_t*) -> int {
        return 0;
    };
    return w;
}();

class TaPluginTest : public ::testing::Test {
protected:
    void SetUp() override { SetPluginClass(&CreateTaPlugin); }
    void TearDown() override {
        for (uint32_t id : ids_) {
            TPluginCallRec r = Rec(id, nullptr);
            r.ReleaseFlag = PT_RELEASE_FLAG;
            entry::ExecutePluginCommand(&r);
        }
    }
    static TPluginCallRec Rec(uint32_t id, PtParamsList* params) {
        TPluginCallRec r{};
        r.Signature = PT_CALL_SIGNATURE;
        r.InstanceId = id;
        r.HostTag = 91;
        r.Params = params;
        return r;
    }
    uint32_t NewId() {
        static uint32_t next = 70000;
        ids_.push_back(++next);
        return next;
    }
    // Runs a command with the INI file of the test and the hung window.
    int32_t Command(uint32_t id, const char* command) {
        ListPtr p = NewList();
        p->Add("COMMAND", WideValue(command));
        p->Add("MessagesProcessorHandle",
               Variant(static_cast<int64_t>(reinterpret_cast<intptr_t>(&g_hungWindow))));
        p->Add("INISectionPrefix", WideValue("P"));
        p->Add("INI-FILE", WideValue(ini));
        TPluginCallRec r = Rec(id, p.get());
        return entry::ExecutePluginCommand(&r);
    }
    // Stores a configuration (script lines joined by CR LF, language index) in the INI file.
    void Store(const std::string& script, int language) {
        std::string encoded;
        for (char c : script) encoded += c == '\n' ? std::string("%0d%0a") : std::string(1, c);
        test::TempFolder::Write(ini, "[P.Common]\r\nScript=" + encoded +
                                         "\r\nLanguage=" + std::to_string(language) + "\r\n");
    }
    uint32_t Loaded(const std::string& script = "", int language = 0) {
        Store(script, language);
        uint32_t id = NewId();
        EXPECT_EQ(Command(id, "LOAD"), 0);
        return id;
    }
    static TaPlugin& Obj(uint32_t id) {
        auto p = PluginRegistry()->Find(id);
        auto* a = dynamic_cast<TaPlugin*>(p.get());
        if (!a) throw std::logic_error("no TaPlugin");
        return *a;
    }
    // One packet of rows (names and integer values; "|" separates rows).
    static int32_t Packet(uint32_t id, TnoxParamsList& data, TPluginCallRec* out = nullptr) {
        ListPtr p = NewList();
        TPluginCallRec r = Rec(id, p.get());
        r.CallTypes = PT_MT_BIT(mttFilter);
        r.DataKind = PT_DATAKIND_LIST;
        r.Buffer = &data;
        int32_t result = entry::ProcessData(&r);
        if (out) *out = r;
        return result;
    }
    static std::vector<std::string> PendingLog(uint32_t id) {
        std::string buf(1 << 16, '\0');
        TPluginCallRec r = Rec(id, nullptr);
        r.Buffer = buf.data();
        r.BufferSize = static_cast<int32_t>(buf.size());
        int32_t n = entry::GetLogEx(&r);
        std::vector<std::string> lines;
        std::string text = buf.substr(0, static_cast<size_t>(n));
        for (size_t at = 0; at < text.size();) {
            size_t e = text.find("\r\n", at);
            lines.push_back(text.substr(at, e - at));
            at = e + 2;
        }
        return lines;
    }

    test::TempFolder tmp;
    std::string ini = tmp.File("host.ini");
    std::vector<uint32_t> ids_;
};

Variant Args(std::initializer_list<Variant> items) {
    return Variant::Array(items);
}

} // namespace

// ---- configuration and the packet handler ------------------------------------------------------

TEST_F(TaPluginTest, ModuleHasItsComponentsAndTheMessageTexts) {
    uint32_t id = Loaded();
    TaPlugin& a = Obj(id);
    EXPECT_EQ(a.Properties.Text(), "Top,Top\r\nLeft,Left\r\nWidth,Width\r\nHeight,Height\r\n"
                                   "fsTree1.Width,Editor width\r\n;---short---\r\n"
                                   "edtExpr.Lines,Script\r\ncomboType.ItemIndex,Language\r\n");
    EXPECT_EQ(a.fsScript1->SyntaxType, "PascalScript");
    EXPECT_EQ(a.FindComponent("maData"), static_cast<TComponent*>(a.maData));
    EXPECT_EQ(a.maData->MessageText("MsgDiscard"), "Data packet has been discarted");
    EXPECT_EQ(a.maData->MessageText("msgexecerr"), "Unable to execute \"%s\" script: %s");
    EXPECT_TRUE(a.CurrentRow && a.StoredValues && a.Config);
    EXPECT_FALSE(a.Prepared);
}

TEST_F(TaPluginTest, ScriptThatDoesNotCompileLogsOnceAndAnswersMinusFourUntilReloaded) {
    uint32_t id = Loaded("begin COMPILE-ERROR", 0);
    ListPtr data(TnoxParamsList::CreateRows());
    data->Add("a", Variant(1));
    TPluginCallRec r{};
    EXPECT_EQ(Packet(id, *data, &r), PT_RESULT_COMPILE_ERROR);
    EXPECT_EQ(r.ResultValue, 0); // nothing published
    std::vector<std::string> log = PendingLog(id);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].substr(0, 11), "\x01Pipetask. ");
    EXPECT_GT(log[0].size(), 11u); // the compiler's message follows
    EXPECT_TRUE(Obj(id).Prepared);
    EXPECT_FALSE(Obj(id).Compiled);

    EXPECT_EQ(Packet(id, *data), PT_RESULT_COMPILE_ERROR);
    EXPECT_TRUE(PendingLog(id).empty()); // compiled once per configuration load

    EXPECT_EQ(Command(id, "LOAD-SETTINGS-NOW"), PT_RESULT_NOT_HANDLED);
    EXPECT_FALSE(Obj(id).Prepared);
    EXPECT_EQ(Packet(id, *data), PT_RESULT_COMPILE_ERROR);
    EXPECT_EQ(PendingLog(id).size(), 1u); // compiled again
}

TEST_F(TaPluginTest, LanguageIndexChoosesTheLanguageAnyOtherIsPascalScript) {
    const struct {
        int index;
        const char* language;
    } cases[] = {{0, "PascalScript"}, {1, "C++Script"},    {2, "JScript"},
                 {3, "BasicScript"},  {7, "PascalScript"}, {-5, "PascalScript"}};
    for (const auto& c : cases) {
        uint32_t id = Loaded("x", c.index);
        EXPECT_GE(Obj(id).Config->comboType_ItemIndex, 0) << c.index; // below 0 becomes 0
        ListPtr data(TnoxParamsList::CreateRows());
        data->Add("a", Variant(1));
        Packet(id, *data);
        EXPECT_EQ(Obj(id).fsScript1->SyntaxType, c.language) << c.index;
        EXPECT_TRUE(Obj(id).Prepared);
    }
}

TEST_F(TaPluginTest, PacketWithoutBufferIsNotProcessed) {
    uint32_t id = Loaded("begin COMPILE-ERROR", 0);
    ListPtr p = NewList();
    TPluginCallRec r = Rec(id, p.get());
    r.CallTypes = PT_MT_BIT(mttFilter);
    EXPECT_EQ(entry::ProcessData(&r), 0);
    EXPECT_FALSE(Obj(id).Prepared); // not even compiled
}

TEST_F(TaPluginTest, PacketBeforeLoadFailsWithoutRows) {
    uint32_t id = NewId();
    EXPECT_EQ(Command(id, "SET-STATE"), PT_RESULT_REFUSED); // gives the object its window only
    ListPtr data(TnoxParamsList::CreateRows());
    data->Add("a", Variant(1));
    TPluginCallRec r{};
    EXPECT_EQ(Packet(id, *data, &r), PT_RESULT_EXCEPTION);
    EXPECT_EQ(r.ResultValue, 0);
    std::vector<std::string> log = PendingLog(id);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "\x02Pipetask. Data have been processed with errors");
}

TEST_F(TaPluginTest, ReloadEmptiesStoredValuesAndUnloadFreesTheConfiguration) {
    uint32_t id = Loaded();
    TaPlugin& a = Obj(id);
    Variant args = Args({"x", 1});
    a.CallHostFunction("PUSHVARIABLE", args);
    a.Prepared = a.Compiled = true;
    EXPECT_EQ(a.StoredValues->GetCount(), 1);
    EXPECT_EQ(Command(id, "LOAD-SETTINGS-NOW"), PT_RESULT_NOT_HANDLED);
    EXPECT_EQ(a.StoredValues->GetCount(), 0);
    EXPECT_FALSE(a.Prepared);
    EXPECT_FALSE(a.Compiled);
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    EXPECT_EQ(a.Config, nullptr);
    EXPECT_EQ(a.CurrentRow, nullptr);
    EXPECT_EQ(a.StoredValues, nullptr);
    // The host functions of a script left over from before do nothing now.
    Variant none;
    EXPECT_TRUE(a.CallHostFunction("GETVARIABLECOUNT", none).IsEmpty());
}

TEST_F(TaPluginTest, SaveSettingsNowWritesTheConfiguration) {
    uint32_t id = Loaded("begin\nend.", 2);
    Obj(id).Config->Top = 5;
    EXPECT_EQ(Command(id, "SAVE-SETTINGS-NOW"), PT_RESULT_NOT_HANDLED);
    // Keys already in the file keep their place.
    EXPECT_EQ(test::TempFolder::Read(ini), "[P.Common]\r\n"
                                           "Script=begin%0d%0aend.%0d%0a\r\n"
                                           "Language=2\r\n"
                                           "Top=5\r\n"
                                           "Left=314\r\n"
                                           "Width=463\r\n"
                                           "Height=278\r\n"
                                           "Editor width=157\r\n\r\n");
    EXPECT_FALSE(Obj(id).SettingsBusy.load());
}

TEST_F(TaPluginTest, AcceptedDialogInstallsAFreshConfigurationOnlyWhenLoaded) {
    uint32_t id = Loaded("a", 0);
    TaPlugin& a = Obj(id);
    TDataSourceCfg* old = a.Config;
    Store("b", 3);
    EXPECT_TRUE(a.InstallNewConfiguration());
    EXPECT_NE(a.Config, old);
    EXPECT_EQ(a.Config->comboType_ItemIndex, 3);
    EXPECT_EQ(a.Config->edtExpr_Lines()[0], "b");
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    EXPECT_FALSE(a.InstallNewConfiguration());
    EXPECT_EQ(a.Config, nullptr);
}

// ---- host functions ---------------------------------------------------------------------------

class HostFunctionTest : public TaPluginTest {
protected:
    void SetUp() override {
        TaPluginTest::SetUp();
        id = Loaded();
        a = &Obj(id);
        a->CurrentRow->Add("Temp", Variant(20));
        a->CurrentRow->Add("hum", WideValue("40"));
    }
    Variant Call(const char* name, std::initializer_list<Variant> args = {}) {
        Variant params = args.size() ? Args(args) : Variant();
        return a->CallHostFunction(name, params);
    }
    std::string Names() {
        std::string s;
        for (int32_t i = 0; i < a->CurrentRow->GetCount(); ++i)
            s += std::string(a->CurrentRow->ItemAt(i)->Name()) + ";";
        return s;
    }
    uint32_t id = 0;
    TaPlugin* a = nullptr;
};

TEST_F(HostFunctionTest, SetVariableChangesTheFirstMatchOrAppends) {
    Call("SETVARIABLE", {"new", "text"});
    EXPECT_EQ(Names(), "Temp;hum;new;");
    EXPECT_EQ(Call("GETVARIABLECOUNT").ToInt(), 3);
    Variant last = Call("GETVARIABLEBYINDEX", {2});
    EXPECT_EQ(last.Kind(), varOleStr); // text is stored wide
    EXPECT_EQ(last.ToStr(), "text");
    EXPECT_EQ(Call("GETVARIABLENAMEBYINDEX", {2}).ToStr(), "new");

    Call("SETVARIABLE", {"TEMP", 21});
    EXPECT_EQ(Names(), "Temp;hum;new;"); // the item keeps its name
    EXPECT_EQ(Call("GETVARIABLE", {"temp"}).ToInt(), 21);
}

TEST_F(HostFunctionTest, MissingNamesAreEmptyAndIndexesOutOfRangeNull) {
    EXPECT_TRUE(Call("GETVARIABLE", {"nope"}).IsEmpty());
    EXPECT_TRUE(Call("POPVARIABLE", {"nope"}).IsEmpty());
    for (int i : {-1, 2, 1000}) {
        EXPECT_TRUE(Call("GETVARIABLEBYINDEX", {i}).IsNull()) << i;
        EXPECT_TRUE(Call("GETVARIABLENAMEBYINDEX", {i}).IsNull()) << i;
    }
    EXPECT_TRUE(Call("ISVARIABLEDEFINED", {"HUM"}).ToBool());
    EXPECT_FALSE(Call("ISVARIABLEDEFINED", {"nope"}).ToBool());
}

TEST_F(HostFunctionTest, DeleteVariableRemovesOnlyTheFirstOfTwo) {
    a->CurrentRow->Add("temp", Variant(99));
    EXPECT_EQ(Call("GETVARIABLECOUNT").ToInt(), 3); // duplicates count
    Call("DELETEVARIABLE", {"TEMP"});
    EXPECT_EQ(Names(), "hum;temp;");
    EXPECT_EQ(Call("GETVARIABLE", {"temp"}).ToInt(), 99);
    Call("DELETEVARIABLE", {"nope"});
    EXPECT_EQ(Names(), "hum;temp;");
}

TEST_F(HostFunctionTest, StoredValuesSurviveRowsAndReplaceEarlierValues) {
    EXPECT_FALSE(Call("ISVARIABLESTORED", {"x"}).ToBool());
    Call("PUSHVARIABLE", {"x", 1});
    Call("PUSHVARIABLE", {"X", 2}); // no stack: replaces
    a->CurrentRow->Clear();         // the next row
    EXPECT_EQ(Call("POPVARIABLE", {"x"}).ToInt(), 2);
    EXPECT_EQ(Call("POPVARIABLE", {"x"}).ToInt(), 2); // stays stored
    EXPECT_TRUE(Call("ISVARIABLESTORED", {"x"}).ToBool());
    EXPECT_FALSE(Call("ISVARIABLEDEFINED", {"x"}).ToBool()); // the row is another store
    EXPECT_EQ(a->StoredValues->GetCount(), 1);
}

TEST_F(HostFunctionTest, SendEventTakesArgsAsPairs) {
    Call("SENDEVENT", {"Alarm", Args({"level", 3, "ignored"})});
    Call("SENDEVENT", {"bare", 5}); // Args not an array: no values
    ListPtr p = NewList();
    TPluginCallRec r = Rec(id, p.get());
    ASSERT_EQ(entry::GetEvents(&r), 0);
    auto* events = reinterpret_cast<TnoxParamsList*>(r.ResultValue);
    ASSERT_NE(events, nullptr);
    ASSERT_EQ(events->GetCount(), 5);
    EXPECT_EQ(events->ItemAt(0)->Name(), "EVENT-TYPE");
    EXPECT_EQ(events->ItemAt(0)->Value().ToStr(), "ALARM");
    EXPECT_EQ(events->ItemAt(1)->Name(), "level");
    EXPECT_EQ(events->ItemAt(1)->Value().ToInt(), 3);
    EXPECT_TRUE(events->ItemAt(2)->IsNewRow());
    EXPECT_EQ(events->ItemAt(3)->Value().ToStr(), "BARE");
    EXPECT_TRUE(events->ItemAt(4)->IsNewRow());
}

TEST_F(HostFunctionTest, DiscardAndDbgLog) {
    a->DiscardRow = false;
    EXPECT_TRUE(Call("DISCARDDATAPACKET").IsEmpty());
    EXPECT_TRUE(a->DiscardRow);
    Call("DBGLOG", {"a\r\nb"});
    std::vector<std::string> log = PendingLog(id);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "\x03Pipetask. a  b");
}

TEST_F(HostFunctionTest, FailuresInsideTheHandlerAreDroppedWithoutAResult) {
    const std::string before = Names();
    EXPECT_TRUE(Call("GETVARIABLE", {Variant::Null()}).IsEmpty()); // Null is no name
    EXPECT_TRUE(Call("SETVARIABLE").IsEmpty());                    // no arguments at all
    EXPECT_TRUE(Call("GETVARIABLEBYINDEX", {"abc"}).IsEmpty());    // not an integer
    EXPECT_TRUE(Call("SETVARIABLE", {"   ", 1}).IsEmpty());        // blank name: nothing added
    EXPECT_TRUE(Call("NOSUCHFUNCTION", {1}).IsEmpty());
    EXPECT_EQ(Names(), before);
    // This host exports no send functions: nothing is sent and no result is set.
    EXPECT_TRUE(Call("SENDDATA", {"abc"}).IsEmpty());
    EXPECT_TRUE(Call("SENDSTRING", {"abc"}).IsEmpty());
    EXPECT_TRUE(Call("SENDBYTE", {300}).IsEmpty());
}

TEST_F(HostFunctionTest, RegisteredInOrderAndDispatchedByUpperCasedName) {
    TfsScript script;
    a->RegisterHostFunctions(script);
    ASSERT_EQ(script.ItemCount(), 16);
    const char* names[] = {"SetVariable",
                           "GetVariable",
                           "PushVariable",
                           "PopVariable",
                           "DeleteVariable",
                           "DiscardDataPacket",
                           "DbgLog",
                           "IsVariableDefined",
                           "IsVariableStored",
                           "SendData",
                           "SendString",
                           "SendByte",
                           "SendEvent",
                           "GetVariableCount",
                           "GetVariableByIndex",
                           "GetVariableNameByIndex"};
    for (size_t i = 0; i < 16; ++i) {
        auto* m = dynamic_cast<TfsMethodHelper*>(script.LookupLocal(names[i]));
        ASSERT_NE(m, nullptr) << names[i];
        EXPECT_EQ(m->Prototype, HostFunctionPrototypes[i]);
        EXPECT_EQ(m->Category, "");
    }
    // A call through the registered item reaches the row.
    auto* set = dynamic_cast<TfsMethodHelper*>(script.LookupLocal("setvariable"));
    set->Param(0)->Value = Variant("fromScript");
    set->Param(1)->Value = Variant(7);
    set->ReadValue();
    EXPECT_EQ(a->CurrentRow->GetValue("FROMSCRIPT").ToInt(), 7);
    auto* count = dynamic_cast<TfsMethodHelper*>(script.LookupLocal("GetVariableCount"));
    EXPECT_EQ(count->ReadValue().ToInt(), 3);
}

// ---- script-running state ---------------------------------------------------------------------

TEST(ScriptRunningTest, NestsPerThreadAndCountsThreads) {
    EXPECT_FALSE(ScriptRunning());
    {
        TScriptRunningScope outer;
        {
            TScriptRunningScope inner;
            EXPECT_TRUE(ScriptRunningOnThisThread());
        }
        EXPECT_TRUE(ScriptRunningOnThisThread()); // the outer scope still runs
        bool otherThread = true, seenRunning = false;
        std::thread t([&] {
            otherThread = ScriptRunningOnThisThread();
            seenRunning = ScriptRunning();
        });
        t.join();
        EXPECT_FALSE(otherThread);
        EXPECT_TRUE(seenRunning);
    }
    EXPECT_FALSE(ScriptRunning());
    EXPECT_FALSE(ClaimScriptFault()); // a fault outside any script is not the script's
}

TEST(ScriptRunningTest, AFaultClaimedInsideAScriptClearsTheFlagOnce) {
    {
        TScriptRunningScope running;
        TScriptRunningScope nested;
        EXPECT_TRUE(ClaimScriptFault());
        EXPECT_FALSE(ScriptRunningOnThisThread());
        EXPECT_FALSE(ScriptRunning());
        EXPECT_FALSE(ClaimScriptFault());
    }
    EXPECT_FALSE(ScriptRunning()); // the scopes' ends do not count it down twice
    TScriptRunningScope again;
    EXPECT_TRUE(ScriptRunning());
}
