// The host side of the module boundary: the loaded library and its exports, the host window
// that receives the module's messages (served by its own thread), the host's send exports,
// and one module object driven through LOAD, packets and UNLOAD.
#pragma once

#include "Console.h"
#include "Runner.h"

#include <pipetask/pipetask.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>

namespace pt::host {

// The plug-in cannot be loaded or does not answer as a Pipetask module; one line for the user.
class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// libpipetask.so and its twelve exports, resolved with dlsym.
class PluginLibrary {
public:
    // Throws PluginError when the library cannot be opened, lacks an export or speaks another
    // interface version.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // build/libpipetask.so next to the running executable.
    static std::string defaultPath();

    TGetPluginIntfVersion GetPluginIntfVersion = nullptr;
    TGetAppMinVersion GetAppMinVersion = nullptr;
    TGetModuleDescription GetModuleDescription = nullptr;
    TGetModuleType GetModuleType = nullptr;
    TMultiThreadSupport MultiThreadSupport = nullptr;
    TGetCustomCommands GetCustomCommands = nullptr;
    TExecutePluginCommand ExecutePluginCommand = nullptr;
    TShowOptionsDialog ShowOptionsDialog = nullptr;
    TGetLogEx GetLogEx = nullptr;
    TGetData GetData = nullptr;
    TGetEvents GetEvents = nullptr;
    TProcessData ProcessData = nullptr;

private:
    void* handle_ = nullptr;
};

// A NoxMessageWindow: posts of "log lines wait" and "events wait" are coalesced into two flags
// that a thread of the window serves, so that a flood of posts needs no memory; data-copy
// sends (log lines) are handled at once on the sending thread, so they never wait for the
// window's thread and never time out.
class MessageWindow {
public:
    struct Handlers {
        std::function<void()> logWaiting;    // on the window's thread
        std::function<void()> eventsWaiting; // on the window's thread
        std::function<void(uintptr_t tag, std::string_view bytes)> copyData; // on the sender's
    };
    explicit MessageWindow(Handlers handlers);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // The value of "MessagesProcessorHandle".
    intptr_t handle() { return reinterpret_cast<intptr_t>(&rec_); }
    // Stops the thread after the flags set so far were served; later messages are refused.
    void close();

private:
    static int post(NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam);
    static int send(NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                    uint32_t timeoutMs, intptr_t* result);
    bool flag(uint32_t msg);
    void loop();

    NoxMessageWindow rec_;
    Handlers handlers_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool logFlag_ = false, eventsFlag_ = false, stop_ = false;
    std::atomic<bool> closed_{false};
    std::thread thread_;
};

// Where the bytes that a script sends (fSendData, fSendString, fSendByte) go for one HostTag.
using ReplyFn = std::function<bool(const void* data, size_t n)>;
// Registers a reply target and answers the HostTag to hand the module; unregister when done.
uint32_t registerReplyTarget(ReplyFn fn);
void unregisterReplyTarget(uint32_t hostTag);

} // namespace pt::host

// The host's send exports (defined with default visibility for the module's dlsym).
extern "C" {
int32_t PT_STDCALL fSendData(uint32_t hostTag, uint32_t zero, uint32_t sourceTag, const void* data,
                             int32_t count);
int32_t PT_STDCALL fSendString(uint32_t hostTag, uint32_t zero, uint32_t sourceTag,
                               const char* text);
int32_t PT_STDCALL fSendByte(uint32_t hostTag, uint32_t zero, uint32_t sourceTag,
                             uint32_t byteValue);
}

namespace pt::host {

struct SessionCounters {
    std::atomic<uint64_t> errorLines{0}, warningLines{0}, infoLines{0}, events{0};
};

// One module object of the plug-in, from "LOAD" to its release.
class PluginSession final : public PacketProcessor {
public:
    struct LoadOptions {
        std::string iniFile;
        std::string sectionPrefix;
        std::string registryPath = "\\Software\\Pipetask\\Host";
    };
    // `logLine` receives every log line as "error: ...", "warning: ...", "info: ...";
    // `eventLine` every event as a JSON object line. Both may be called from the window's
    // thread and from the calling thread.
    PluginSession(PluginLibrary& lib, ReplyFn reply,
                  std::function<void(const std::string&)> logLine,
                  std::function<void(const std::string&)> eventLine);
    ~PluginSession() override;

    // Sends "LOAD"; answers the command's result.
    int load(const LoadOptions& o);
    // Runs an empty packet that makes the module compile its script; answers -4 when it does
    // not compile, else the packet's result.
    int compile();
    int process(Packet& packet, RowSink& sink) override;
    double callSeconds() const override { return callSeconds_; }
    // Fetches what is still pending, closes the window, sends "UNLOAD" and releases the
    // module object. Called by the destructor when not called before.
    void close();
    const SessionCounters& counters() const { return counters_; }

private:
    void initRecord(TPluginCallRec& rec) const;
    int processList(PtParamsList* input, uint8_t callTypes, RowSink* sink);
    void fetchLog();
    void fetchEvents();
    void emitLogBytes(std::string_view bytes, bool block);
    int command(const char* name, const std::function<void(PtParamsList*)>& fill);
    PtParamsListItem* newItem(const std::string& name, PtValue value);
    void dropNames();

    PluginLibrary& lib_;
    std::function<void(const std::string&)> logLine_, eventLine_;
    uint32_t instanceId_;
    uint32_t hostTag_;
    std::string iniFile_;
    void* selfHandle_ = nullptr;
    PtParamsList* emptyParams_ = nullptr;
    PtParamsList* input_ = nullptr;
    std::unique_ptr<MessageWindow> window_;
    // Serialises the calls that hand out module-owned lists (ProcessData with the reading of
    // its output rows, the two GetEvents calls with the reading of the events) between the
    // calling thread and the window's thread.
    std::mutex callMu_;
    SessionCounters counters_;
    bool loaded_ = false, closed_ = false;
    std::vector<FieldView> view_;
    double callSeconds_ = 0;
    // The boundary strings of recently used item names (name, lower-case name), each holding
    // one reference: items share them instead of allocating two strings each.
    struct NameStrings {
        char* name;
        char* lower;
    };
    std::unordered_map<std::string, NameStrings> names_;
};

} // namespace pt::host
