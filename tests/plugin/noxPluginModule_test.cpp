#include <gtest/gtest.h>

#include "platform/CrashReporter.h"
#include "platform/ModuleInfo.h"
#include "plugin/noxPluginEntry.h"
#include "plugin/noxPluginModule.h"
#include "plugin/noxPluginRegistry.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

using namespace pt;

namespace {

// A host window that handles every message at once, on the caller's thread, or hangs.
struct RecordingWindow {
    NoxMessageWindow w{};
    std::mutex lock;
    bool hung = false;
    bool refusePosts = false;
    struct Msg {
        uint32_t msg;
        uintptr_t wParam;
        uintptr_t tag;
        std::string data;
        bool sent;
    };
    std::vector<Msg> msgs;

    RecordingWindow() {
        w.magic = NOX_MESSAGE_WINDOW_MAGIC;
        w.post = [](NoxMessageWindow* self, uint32_t m, uintptr_t wp, intptr_t lp) -> int {
            auto* rw = reinterpret_cast<RecordingWindow*>(self);
            std::lock_guard<std::mutex> g(rw->lock);
            if (rw->refusePosts) return 0;
            rw->Record(m, wp, lp, false);
            return 1;
        };
        w.send = [](NoxMessageWindow* self, uint32_t m, uintptr_t wp, intptr_t lp, uint32_t,
                    intptr_t* result) -> int {
            auto* rw = reinterpret_cast<RecordingWindow*>(self);
            std::lock_guard<std::mutex> g(rw->lock);
            if (rw->hung) return 0;
            rw->Record(m, wp, lp, true);
            *result = 1;
            return 1;
        };
    }
    void Record(uint32_t m, uintptr_t wp, intptr_t lp, bool sent) {
        Msg r{m, wp, 0, {}, sent};
        if (m == PT_WM_COPYDATA) {
            auto* cd = reinterpret_cast<const NoxCopyData*>(lp);
            r.tag = cd->tag;
            r.data.assign(static_cast<const char*>(cd->data), cd->size);
        }
        msgs.push_back(r);
    }
    int64_t Handle() { return static_cast<int64_t>(reinterpret_cast<intptr_t>(&w)); }
    std::vector<std::string> LogLines() {
        std::lock_guard<std::mutex> g(lock);
        std::vector<std::string> out;
        for (auto& m : msgs)
            if (m.msg == PT_WM_COPYDATA && m.tag == PT_COPYDATA_LOG_LINE) out.push_back(m.data);
        return out;
    }
    int Count(uint32_t msg) {
        std::lock_guard<std::mutex> g(lock);
        return static_cast<int>(
            std::count_if(msgs.begin(), msgs.end(), [&](auto& m) { return m.msg == msg; }));
    }
};

using ListPtr = std::unique_ptr<TnoxParamsList, TnoxParamsListDeleter>;
ListPtr NewList() {
    return ListPtr(TnoxParamsList::Create());
}

std::function<void(TnoxPlugin&)> g_setup;
std::shared_ptr<TnoxPlugin> CreateTestPlugin() {
    auto p = std::make_shared<TnoxPlugin>();
    if (g_setup) g_setup(*p);
    return p;
}

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override { SetPluginClass(&CreateTestPlugin); }
    void TearDown() override {
        for (uint32_t id : ids_) Release(id);
        SetPluginClass(nullptr);
        g_setup = nullptr;
    }
    uint32_t NewId() {
        static uint32_t next = 50000;
        ids_.push_back(++next);
        return next;
    }
    static TPluginCallRec Rec(uint32_t id, PtParamsList* params) {
        TPluginCallRec r{};
        r.Signature = PT_CALL_SIGNATURE;
        r.InstanceId = id;
        r.HostTag = 77;
        r.Params = params;
        return r;
    }
    static void Release(uint32_t id) {
        TPluginCallRec r = Rec(id, nullptr);
        r.ReleaseFlag = PT_RELEASE_FLAG;
        entry::ExecutePluginCommand(&r);
    }
    // Runs a command; `params` (optional) carries the other parameters.
    static int32_t Command(uint32_t id, const char* command, TnoxParamsList* params = nullptr,
                           uint8_t callTypes = 0) {
        ListPtr own;
        if (!params) {
            own = NewList();
            params = own.get();
        }
        params->SetValue("COMMAND", WideValue(command), true);
        TPluginCallRec r = Rec(id, params);
        r.CallTypes = callTypes;
        return entry::ExecutePluginCommand(&r);
    }
    static std::shared_ptr<TnoxPlugin> Obj(uint32_t id) { return PluginRegistry()->Find(id); }
    // LOAD with a window.
    uint32_t Loaded(RecordingWindow* window = nullptr) {
        uint32_t id = NewId();
        ListPtr p = NewList();
        if (window) p->Add("MessagesProcessorHandle", Variant(window->Handle()));
        EXPECT_EQ(Command(id, "LOAD", p.get()), 0);
        return id;
    }
    static std::string PendingLog(uint32_t id) {
        std::string buf(1 << 20, '\0');
        TPluginCallRec r = Rec(id, nullptr);
        r.Buffer = buf.data();
        r.BufferSize = static_cast<int32_t>(buf.size());
        int32_t n = entry::GetLogEx(&r);
        return buf.substr(0, static_cast<size_t>(n));
    }

    std::vector<uint32_t> ids_;
};

} // namespace

// ---- log channel ---------------------------------------------------------------------------

TEST_F(PluginTest, LogLineHasKindByteTitleAndBlankedLineBreaks) {
    TnoxPlugin p;
    EXPECT_EQ(p.LogLine(PT_LOG_INFO, "a\r\nb"), "\x03Pipetask. a  b");
    EXPECT_EQ(p.LogLine(PT_LOG_ERROR, "x"), "\x01Pipetask. x");
    p.LogTitle.clear();
    EXPECT_EQ(p.LogLine(PT_LOG_WARNING, "a\nb"), "\x02"
                                                 "a b");
}

TEST(NoxPlugin, IdentityIsPublished) {
    TnoxPlugin p;
    const TPropInfo* msg = GetPropInfo(p, "msgnodata");
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(GetStrProp(p, *msg), "No data for processing");
    SetStrProp(p, *msg, "Keine Daten");
    EXPECT_EQ(p.MsgNoData, "Keine Daten");
    EXPECT_EQ(GetOrdProp(p, *GetPropInfo(p, "ModuleType")), 0x20);
    EXPECT_EQ(GetFloatProp(p, *GetPropInfo(p, "MinVersion")), 4.0);
    EXPECT_EQ(GetOrdProp(p, *GetPropInfo(p, "IsMultiThreadSupported")), 1);
    EXPECT_EQ(p.ClassName(), "TnoxPlugin");
}

TEST_F(PluginTest, HungWindowKeepsTheLast100Lines) {
    RecordingWindow window;
    window.hung = true;
    uint32_t id = Loaded(&window);
    auto obj = Obj(id);
    for (int i = 0; i < 150; ++i) obj->WriteLog(PT_LOG_INFO, "m" + std::to_string(i));
    std::string expected;
    for (int i = 50; i < 150; ++i) expected += "\x03Pipetask. m" + std::to_string(i) + "\r\n";
    EXPECT_EQ(PendingLog(id), expected);
    EXPECT_EQ(PendingLog(id), ""); // handed out: the list is empty
    EXPECT_EQ(window.Count(PT_WM_LOG_WAITING), 150);

    // The window answers again: the next line first delivers what waits, in order.
    obj->WriteLog(PT_LOG_INFO, "late1");
    window.hung = false;
    obj->WriteLog(PT_LOG_WARNING, "now");
    ASSERT_GE(window.msgs.size(), 2u);
    EXPECT_EQ(window.msgs[window.msgs.size() - 2].tag, PT_COPYDATA_LOG_BLOCK);
    EXPECT_EQ(window.msgs[window.msgs.size() - 2].data, "\x03Pipetask. late1\r\n");
    EXPECT_EQ(window.msgs.back().data, "\x02Pipetask. now");
    EXPECT_EQ(window.msgs.back().wParam, 77u); // the HostTag
}

TEST_F(PluginTest, WithoutWindowNothingIsLogged) {
    uint32_t id = Loaded();
    auto obj = Obj(id);
    obj->WriteLog(PT_LOG_ERROR, "lost");
    obj->QueueLog(PT_LOG_ERROR, "lost");
    EXPECT_EQ(PendingLog(id), "");
    EXPECT_EQ(obj->LogLines.Count(), 0u);
}

TEST_F(PluginTest, RefusedPostsAreSentInstead) {
    RecordingWindow window;
    window.refusePosts = true;
    window.hung = false;
    uint32_t id = Loaded(&window);
    Obj(id)->NotifyHost(PT_WM_EVENTS_WAITING);
    ASSERT_EQ(window.msgs.size(), 1u);
    EXPECT_TRUE(window.msgs[0].sent);
    EXPECT_EQ(window.msgs[0].msg, PT_WM_EVENTS_WAITING);
}

// ---- commands ------------------------------------------------------------------------------

TEST_F(PluginTest, HandlerExceptionsGiveMinus3AndAReport) {
    g_setup = [](TnoxPlugin& p) {
        p.OnExecuteCustomCommand = [](TnoxPlugin&, const std::string&, PPluginCallRec, int32_t&) {
            throw std::runtime_error("custom failed");
        };
    };
    std::string reported;
    auto old = SetExceptionReportHook([&](const std::string& d) { reported = d; });
    RecordingWindow window;
    window.hung = true;
    uint32_t id = Loaded(&window);
    EXPECT_EQ(Command(id, "BOOM"), -3);
    SetExceptionReportHook(old);
    EXPECT_NE(reported.find("Exception class: std::runtime_error"), std::string::npos) << reported;
    EXPECT_NE(reported.find("Message: custom failed"), std::string::npos);
    EXPECT_NE(reported.find("Call stack:"), std::string::npos);
    std::string log = PendingLog(id);
    EXPECT_EQ(log.substr(0, 11), "\x01Pipetask. ");
    EXPECT_NE(log.find("custom failed"), std::string::npos);
}

TEST_F(PluginTest, UnloadCleansUpEvenWhenOnUnloadRaises) {
    g_setup = [](TnoxPlugin& p) {
        p.OnUnload = [](TnoxPlugin&, PPluginCallRec, int32_t&) { throw std::runtime_error("x"); };
    };
    uint32_t id = Loaded();
    EXPECT_NE(Obj(id)->Events(), nullptr);
    EXPECT_EQ(Command(id, "UNLOAD"), -3);
    EXPECT_TRUE(Obj(id)->Unloaded.load());
    EXPECT_EQ(Obj(id)->Events(), nullptr);
    EXPECT_EQ(Obj(id)->OutputRows(), nullptr);
}

TEST_F(PluginTest, LoadRaisesOnLoadOnceAndKeepsParameters) {
    int loads = 0;
    g_setup = [&](TnoxPlugin& p) {
        p.OnLoad = [&](TnoxPlugin&, PPluginCallRec, int32_t& r) {
            ++loads;
            r = 0;
        };
    };
    uint32_t id = NewId();
    ListPtr p = NewList();
    p->Add("RegistryPath", WideValue("Software\\Host\\Filter1"));
    p->Add("INISectionPrefix", WideValue("F1"));
    p->Add("INI-FILE", WideValue("/tmp/host.ini"));
    EXPECT_EQ(Command(id, "LOAD", p.get()), 0);
    EXPECT_EQ(Command(id, "LOAD", p.get()), 0);
    EXPECT_EQ(loads, 1);
    auto obj = Obj(id);
    EXPECT_EQ(obj->LoadCount.load(), 2);
    EXPECT_EQ(obj->RegistryPath(), "Software\\Host\\Filter1");
    EXPECT_EQ(obj->INISectionPrefix(), "F1");
    EXPECT_EQ(obj->INIFile(), "/tmp/host.ini");
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    EXPECT_FALSE(obj->Unloaded.load());
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    EXPECT_TRUE(obj->Unloaded.load());
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    EXPECT_EQ(obj->LoadCount.load(), 0);
}

TEST_F(PluginTest, SettingsCommandsUseTheirIniFileAndRestoreIt) {
    std::vector<std::string> seen;
    g_setup = [&](TnoxPlugin& p) {
        p.OnSaveSettingsNow = [&](TnoxPlugin& s) { seen.push_back("save " + s.INIFile()); };
        p.OnLoadSettingsNow = [&](TnoxPlugin& s) { seen.push_back("load " + s.INIFile()); };
    };
    uint32_t id = NewId();
    ListPtr p = NewList();
    p->Add("INI-FILE", WideValue("a.ini"));
    EXPECT_EQ(Command(id, "LOAD", p.get()), 0);
    ListPtr q = NewList();
    q->Add("INI-FILE", WideValue("b.ini"));
    EXPECT_EQ(Command(id, "SAVE-SETTINGS-NOW", q.get()), -2);
    EXPECT_EQ(Obj(id)->INIFile(), "a.ini");
    EXPECT_EQ(Command(id, "LOAD-SETTINGS-NOW", q.get()), -2);
    EXPECT_EQ(Obj(id)->INIFile(), "a.ini");
    // UNLOAD with another INI file saves there first.
    ListPtr u = NewList();
    u->Add("INI-FILE", WideValue("c.ini"));
    EXPECT_EQ(Command(id, "UNLOAD", u.get()), 0);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"save b.ini", "load b.ini", "save a.ini", "save c.ini"}));
}

TEST_F(PluginTest, SetStateReadsSourcesAndTypeStates) {
    uint32_t id = Loaded();
    ListPtr p = NewList();
    p->Add("DATA-SOURCES-IN-CFG", WideValue("1; COM1 ; 9600\r\nbad;x\r\n 7;tcp\r\n"));
    p->Add("RESULT", Variant(1));
    const uint8_t types = PT_MT_BIT(mttFilter) | PT_MT_BIT(mttDataExport);
    EXPECT_EQ(Command(id, "SET-STATE", p.get(), types), 0);
    auto obj = Obj(id);
    ASSERT_EQ(obj->DataSources().size(), 2u);
    EXPECT_EQ(obj->DataSources()[0].Id, 1);
    EXPECT_EQ(obj->DataSources()[0].Name, "COM1");
    EXPECT_EQ(obj->DataSources()[0].Params, "9600");
    EXPECT_EQ(obj->DataSources()[1].Id, 7);
    EXPECT_TRUE(obj->TypeState(mttFilter));
    EXPECT_TRUE(obj->TypeState(mttDataExport));
    EXPECT_FALSE(obj->TypeState(mttDataQuery));
    p->SetValue("RESULT", Variant(0), false);
    EXPECT_EQ(Command(id, "SET-STATE", p.get(), PT_MT_BIT(mttFilter)), 0);
    EXPECT_FALSE(obj->TypeState(mttFilter));
    EXPECT_TRUE(obj->TypeState(mttDataExport));
    p->SetValue("RESULT", WideValue("not a number"), false);
    EXPECT_EQ(Command(id, "SET-STATE", p.get(), PT_MT_BIT(mttDataExport)), -1);
    EXPECT_TRUE(obj->TypeState(mttDataExport));
}

TEST_F(PluginTest, EventCommandReachesTheHandler) {
    std::string type;
    g_setup = [&](TnoxPlugin& p) {
        p.OnEvent = [&](TnoxPlugin&, const std::string& t, PPluginCallRec, int32_t& r) {
            type = t;
            EXPECT_EQ(r, -1);
            r = 5;
        };
    };
    uint32_t id = Loaded();
    ListPtr p = NewList();
    p->Add("EVENT-TYPE", WideValue("DoorOpen"));
    EXPECT_EQ(Command(id, "EVENT", p.get()), 5);
    EXPECT_EQ(type, "DoorOpen");
}

TEST_F(PluginTest, ACommandFromInsideACommandIsRefused) {
    int32_t inner = 0;
    g_setup = [&](TnoxPlugin& p) {
        p.OnExecuteCustomCommand = [&](TnoxPlugin& s, const std::string&, PPluginCallRec,
                                       int32_t& r) {
            inner = Command(s.InstanceId, "ITEMS");
            r = 9;
        };
    };
    uint32_t id = Loaded();
    EXPECT_EQ(Command(id, "OUTER"), 9);
    EXPECT_EQ(inner, -3);
    ListPtr p = NewList();
    p->Add("RESULT", WideValue(""));
    EXPECT_EQ(Command(id, "ITEMS", p.get()), 0); // the lock was left as it was
}

TEST_F(PluginTest, CommandsOnTwoObjectsRunInParallel) {
    std::mutex m;
    std::condition_variable cv;
    int inside = 0;
    bool bothInside = false;
    g_setup = [&](TnoxPlugin& p) {
        p.OnExecuteCustomCommand = [&](TnoxPlugin&, const std::string&, PPluginCallRec,
                                       int32_t& r) {
            std::unique_lock<std::mutex> g(m);
            ++inside;
            cv.notify_all();
            // Waits for the other object's command; a serialising lock would make this time out.
            bothInside =
                bothInside || cv.wait_for(g, std::chrono::seconds(20), [&] { return inside == 2; });
            r = 0;
        };
    };
    uint32_t a = Loaded(), b = Loaded();
    std::thread t1([&] { Command(a, "WAIT"); });
    std::thread t2([&] { Command(b, "WAIT"); });
    t1.join();
    t2.join();
    EXPECT_TRUE(bothInside);
}

TEST_F(PluginTest, CommandsOnOneObjectAreSerialised) {
    std::atomic<int> inside{0}, maxInside{0}, calls{0};
    g_setup = [&](TnoxPlugin& p) {
        p.OnExecuteCustomCommand = [&](TnoxPlugin&, const std::string&, PPluginCallRec,
                                       int32_t& r) {
            int now = ++inside;
            maxInside = std::max(maxInside.load(), now);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            --inside;
            ++calls;
            r = 0;
        };
    };
    uint32_t id = Loaded();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) EXPECT_EQ(Command(id, "WORK"), 0);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls.load(), 80);
    EXPECT_EQ(maxInside.load(), 1);
}

// ---- options dialog ------------------------------------------------------------------------

TEST_F(PluginTest, AcceptedDialogReloadsObjectsWithTheSameRegistryPath) {
    std::map<uint32_t, int> reloads;
    bool accept = true;
    g_setup = [&](TnoxPlugin& p) {
        p.OnShowOptionsDialog = [&](TnoxPlugin& s, PPluginCallRec, bool& ok) {
            EXPECT_TRUE(s.DialogShowing.load());
            ok = accept;
        };
        p.OnLoadSettingsNow = [&](TnoxPlugin& s) { ++reloads[s.InstanceId]; };
    };
    auto load = [&](const char* path) {
        uint32_t id = NewId();
        ListPtr p = NewList();
        p->Add("RegistryPath", WideValue(path));
        Command(id, "LOAD", p.get());
        return id;
    };
    uint32_t self = load("Software\\A"), same = load("Software\\A"), other = load("Software\\B");
    TPluginCallRec r = Rec(self, nullptr);
    entry::ShowOptionsDialog(&r);
    EXPECT_EQ(+r.ResultValue, 1);
    EXPECT_EQ(+r.ResultSize, 4);
    EXPECT_EQ(reloads[same], 1);
    EXPECT_EQ(reloads[self], 0);
    EXPECT_EQ(reloads[other], 0);
    EXPECT_FALSE(Obj(self)->DialogShowing.load());
    accept = false;
    entry::ShowOptionsDialog(&r);
    EXPECT_EQ(+r.ResultValue, 0);
    EXPECT_EQ(reloads[same], 1);
}

// ---- language switch -----------------------------------------------------------------------

namespace {
std::vector<std::string> g_translations;
struct RecordingTranslator : TnoxModuleTranslator {
    std::string ReadLanguages() override { return "EN"; }
    void Translate(const std::string& language, TnoxPlugin&, const std::string& base) override {
        g_translations.push_back(language + "<-" + base);
    }
};
} // namespace

TEST_F(PluginTest, LanguageSwitchTranslatesAndNotifies) {
    g_translations.clear();
    SetTranslatorFactory([]() -> std::unique_ptr<TnoxModuleTranslator> {
        return std::make_unique<RecordingTranslator>();
    });
    int changes = 0;
    g_setup = [&](TnoxPlugin& p) { p.OnChangeLanguage = [&](TnoxPlugin&) { ++changes; }; };
    uint32_t id = Loaded();
    auto obj = Obj(id);
    EXPECT_EQ(obj->Language(), "EN"); // no language file next to the module
    EXPECT_TRUE(obj->Translator()->LanguageFile.empty());
    ListPtr p = NewList();
    p->Add("LANGUAGE", WideValue("DE"));
    Command(id, "NOOP", p.get());
    Command(id, "NOOP", p.get()); // the same language again: nothing
    SetTranslatorFactory(nullptr);
    EXPECT_EQ(obj->Language(), "DE");
    EXPECT_TRUE(obj->Translated());
    EXPECT_EQ(g_translations, (std::vector<std::string>{"DE<-EN"}));
    EXPECT_EQ(changes, 1);
}

// ---- data exchange -------------------------------------------------------------------------

TEST_F(PluginTest, PacketRowsArePublishedAndStayUntilTheNextButOnePacket) {
    int32_t handlerResult = 0;
    g_setup = [&](TnoxPlugin& p) {
        p.OnProcessData = [&](TnoxPlugin& s, PPluginCallRec rec, int32_t& r) {
            auto* in = TnoxParamsList::Checked(static_cast<PtParamsList*>(rec->Buffer));
            if (in) s.OutputRows()->AddRow(in);
            r = handlerResult;
        };
    };
    RecordingWindow window;
    uint32_t id = Loaded(&window);
    ListPtr params = NewList();
    auto packet = [&](int value, uint8_t types) {
        ListPtr in = NewList();
        if (value >= 0) in->Add("v", Variant(value));
        TPluginCallRec r = Rec(id, params.get());
        r.CallTypes = types;
        r.DataKind = PT_DATAKIND_LIST;
        r.Buffer = in.get();
        r.ResultKind = 0;
        int32_t res = entry::ProcessData(&r);
        EXPECT_EQ(+r.Buffer, nullptr);
        return std::make_pair(res, r);
    };
    auto [r1, rec1] = packet(1, PT_MT_BIT(mttFilter));
    EXPECT_EQ(r1, 0);
    EXPECT_EQ(+rec1.ResultKind, PT_RESULTKIND_LIST);
    auto* out1 = reinterpret_cast<TnoxParamsList*>(rec1.ResultValue);
    ASSERT_NE(out1, nullptr);
    EXPECT_EQ(out1->GetCount(), 2);
    EXPECT_TRUE(out1->Last()->IsNewRow());

    auto [r2, rec2] = packet(2, PT_MT_BIT(mttFilter));
    auto* out2 = reinterpret_cast<TnoxParamsList*>(rec2.ResultValue);
    EXPECT_NE(out2, out1);
    EXPECT_EQ(out1->GetValue("v").Raw().u.i32, 1); // the previous rows are still intact
    EXPECT_EQ(out2->GetValue("v").Raw().u.i32, 2);
    auto [r3, rec3] = packet(3, PT_MT_BIT(mttFilter));
    EXPECT_EQ(reinterpret_cast<TnoxParamsList*>(rec3.ResultValue), out1);

    // No rows: ResultKind stays, ResultValue 0. Export calls log their completion.
    handlerResult = 4; // > 0 without a buffer becomes 0
    auto [r4, rec4] = packet(-1, PT_MT_BIT(mttFilter));
    EXPECT_EQ(r4, 0);
    EXPECT_EQ(+rec4.ResultKind, 0);
    EXPECT_EQ(+rec4.ResultValue, 0);
    handlerResult = 0;
    packet(5, PT_MT_BIT(mttDataExport));
    handlerResult = -4;
    EXPECT_EQ(packet(5, PT_MT_BIT(mttEventsHandling)).first, -4);
    auto lines = window.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "\x03Pipetask. Data have been processed successfully");
    EXPECT_EQ(lines[1], "\x02Pipetask. Data have been processed with errors");
}

TEST_F(PluginTest, HandlerExceptionInAPacketGivesMinus3AndAWarning) {
    g_setup = [](TnoxPlugin& p) {
        p.OnProcessData = [](TnoxPlugin&, PPluginCallRec, int32_t&) {
            throw std::runtime_error("bad row");
        };
    };
    RecordingWindow window;
    uint32_t id = Loaded(&window);
    ListPtr params = NewList();
    ListPtr in = NewList();
    in->Add("v", Variant(1));
    TPluginCallRec r = Rec(id, params.get());
    r.CallTypes = PT_MT_BIT(mttFilter);
    r.DataKind = PT_DATAKIND_LIST;
    r.Buffer = in.get();
    EXPECT_EQ(entry::ProcessData(&r), -3);
    EXPECT_EQ(window.LogLines(),
              (std::vector<std::string>{"\x02Pipetask. Data have been processed with errors"}));
    EXPECT_EQ(Obj(id)->Busy.load(), 0);
}

TEST_F(PluginTest, EventsAreHandedOverInTwoCalls) {
    RecordingWindow window;
    uint32_t id = Loaded(&window);
    auto obj = Obj(id);
    ListPtr values = NewList();
    values->Add("Level", Variant(3));
    obj->PostEvent(false, "alarm", values.get());
    obj->PostEvent(true, "Été", nullptr);
    EXPECT_EQ(window.Count(PT_WM_EVENTS_WAITING), 2);

    ListPtr params = NewList();
    TPluginCallRec r = Rec(id, params.get());
    ASSERT_EQ(entry::GetEvents(&r), 0);
    EXPECT_EQ(+r.ResultKind, PT_RESULTKIND_LIST);
    auto* events = reinterpret_cast<TnoxParamsList*>(r.ResultValue);
    ASSERT_EQ(events, obj->Events());
    ASSERT_EQ(events->GetCount(), 6);
    EXPECT_EQ(BoundaryText(events->GetValue("EVENT-TYPE").Raw()), "ALARM");
    EXPECT_EQ(events->GetValue("Level").Raw().u.i32, 3);
    EXPECT_EQ(events->ItemAt(2)->Name(), PT_NEW_ROW);
    EXPECT_EQ(events->ItemAt(3)->Name(), "EVENT-GLOBAL");
    EXPECT_TRUE(events->ItemAt(3)->Value().Raw().u.boolean);
    EXPECT_EQ(BoundaryText(events->GetValue("EVENT-TYPE", 3).Raw()), "ÉTÉ");

    // An event raised while the host reads is kept for the next hand-over.
    obj->PostEvent(false, "late", nullptr);
    EXPECT_EQ(events->GetCount(), 6);
    ASSERT_EQ(entry::GetEvents(&r), 0); // confirms: clears what was handed over
    EXPECT_EQ(events->GetCount(), 0);
    r.ResultValue = 0;
    ASSERT_EQ(entry::GetEvents(&r), 0);
    EXPECT_EQ(BoundaryText(events->GetValue("EVENT-TYPE").Raw()), "LATE");
}

TEST_F(PluginTest, PendingEventsAreCappedAt20000Items) {
    uint32_t id = Loaded();
    auto obj = Obj(id);
    for (int i = 0; i < 10000; ++i) obj->PostEvent(false, "e", nullptr); // two items each
    EXPECT_EQ(obj->PendingEventItems(), 20000);
    obj->PostEvent(false, "e", nullptr); // 20000 is not above the limit
    EXPECT_EQ(obj->PendingEventItems(), 20002);
    obj->PostEvent(false, "e", nullptr); // above it: the pending ones are dropped first
    EXPECT_EQ(obj->PendingEventItems(), 2);
}

TEST_F(PluginTest, GetDataPublishesWhatTheHandlerSupplies) {
    g_setup = [](TnoxPlugin& p) {
        p.OnGetData = [](TnoxPlugin& s, PPluginCallRec, int32_t& r) {
            s.OutputRows()->Add("q", Variant(1));
            s.OutputRows()->AddNewRow();
            r = 3; // > 0 without a buffer: 0
        };
    };
    uint32_t id = Loaded();
    ListPtr params = NewList();
    TPluginCallRec r = Rec(id, params.get());
    EXPECT_EQ(entry::GetData(&r), 0); // no roles named: nothing asked
    EXPECT_EQ(+r.ResultValue, 0);
    r.CallTypes = PT_MT_BIT(mttDataQuery);
    EXPECT_EQ(entry::GetData(&r), 0);
    EXPECT_EQ(+r.ResultKind, PT_RESULTKIND_LIST);
    auto* rows = reinterpret_cast<TnoxParamsList*>(r.ResultValue);
    ASSERT_EQ(rows, Obj(id)->OutputRows());
    EXPECT_EQ(rows->GetCount(), 2);
}

TEST_F(PluginTest, DataCallsOnAnUnloadedObjectAreRefused) {
    uint32_t id = Loaded();
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    ListPtr params = NewList();
    TPluginCallRec r = Rec(id, params.get());
    EXPECT_EQ(entry::ProcessData(&r), -1);
    EXPECT_EQ(entry::GetEvents(&r), -1);
    EXPECT_EQ(entry::GetData(&r), -1);
    Obj(id)->PostEvent(false, "nowhere", nullptr); // no list: nothing happens
}

TEST_F(PluginTest, HostModuleFromHandleOrApplicationName) {
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    uint32_t id = NewId();
    ListPtr p = NewList();
    p->Add("HANDLE", Variant(static_cast<int64_t>(reinterpret_cast<intptr_t>(libc))));
    EXPECT_EQ(Command(id, "LOAD", p.get()), 0);
    EXPECT_EQ(Obj(id)->HostModule(), libc);
    EXPECT_EQ(Obj(id)->SendDataFn(), nullptr); // libc exports no fSendData
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    EXPECT_EQ(Obj(id)->HostModule(), nullptr);

    ListPtr q = NewList();
    q->Add("HANDLE", Variant(int64_t(0x1234))); // not a handle: ignored
    q->Add("ApplicationName", WideValue("libc.so.6"));
    EXPECT_EQ(Command(id, "LOAD", q.get()), 0);
    EXPECT_EQ(Obj(id)->HostModule(), libc); // the same loaded object, opened by name
    EXPECT_EQ(Obj(id)->ApplicationName(), "libc.so.6");
    EXPECT_EQ(Command(id, "UNLOAD"), 0);
    dlclose(libc);
}

// ---- platform ------------------------------------------------------------------------------

TEST(ModuleInfo, FileVersionAndHostModules) {
    EXPECT_FALSE(ModuleFilePath().empty());
    EXPECT_EQ(ModuleDirectory().back(), '/');
    EXPECT_EQ(ModuleDirectory() + ModuleFileName(), ModuleFilePath());
    EXPECT_NE(ModuleVersionText().find(" build "), std::string::npos);

    void* self = dlopen(nullptr, RTLD_NOW);
    EXPECT_TRUE(IsLoadedModuleHandle(self));
    EXPECT_FALSE(IsLoadedModuleHandle(reinterpret_cast<void*>(0x1234)));
    EXPECT_FALSE(IsLoadedModuleHandle(nullptr));
    void* libc = OpenLoadedModule("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(ModuleExport(libc, "printf"), nullptr);
    EXPECT_EQ(ModuleExport(libc, "noSuchExportHere"), nullptr);
    EXPECT_EQ(ModuleExport(reinterpret_cast<void*>(0x1234), "printf"), nullptr);
    CloseModule(libc);
    EXPECT_EQ(OpenLoadedModule("libnot-loaded.so"), nullptr);
    dlclose(self);
}
