#include "PluginHost.h"

#include <chrono>
#include <dlfcn.h>
#include <limits.h>
#include <map>
#include <shared_mutex>
#include <unistd.h>

namespace pt::host {

// ---- library -----------------------------------------------------------------------------

template <class F> static void resolve(void* h, const char* name, F& out, const std::string& path) {
    out = reinterpret_cast<F>(dlsym(h, name));
    if (!out) throw PluginError(path + " is not a Pipetask plug-in: it does not export " + name);
}

PluginLibrary::PluginLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = dlerror();
        throw PluginError("cannot load the plug-in " + path + ": " + (e ? e : "unknown error"));
    }
    try {
        resolve(handle_, "GetPluginIntfVersion", GetPluginIntfVersion, path);
        resolve(handle_, "GetAppMinVersion", GetAppMinVersion, path);
        resolve(handle_, "GetModuleDescription", GetModuleDescription, path);
        resolve(handle_, "GetModuleType", GetModuleType, path);
        resolve(handle_, "MultiThreadSupport", MultiThreadSupport, path);
        resolve(handle_, "GetCustomCommands", GetCustomCommands, path);
        resolve(handle_, "ExecutePluginCommand", ExecutePluginCommand, path);
        resolve(handle_, "ShowOptionsDialog", ShowOptionsDialog, path);
        resolve(handle_, "GetLogEx", GetLogEx, path);
        resolve(handle_, "GetData", GetData, path);
        resolve(handle_, "GetEvents", GetEvents, path);
        resolve(handle_, "ProcessData", ProcessData, path);
        uint32_t v = GetPluginIntfVersion();
        if ((v & 0xFFFF) != PT_INTF_VERSION_MAJOR)
            throw PluginError(path + " speaks plug-in interface " + std::to_string(v & 0xFFFF) +
                              "." + std::to_string(v >> 16) + "; this host needs " +
                              std::to_string(PT_INTF_VERSION_MAJOR) + ".x");
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

PluginLibrary::~PluginLibrary() {
    if (handle_) dlclose(handle_);
}

std::string PluginLibrary::defaultPath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "libpipetask.so";
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return exe.substr(0, slash + 1) + "libpipetask.so";
}

// ---- message window ----------------------------------------------------------------------

MessageWindow::MessageWindow(Handlers handlers) : handlers_(std::move(handlers)) {
    rec_.magic = NOX_MESSAGE_WINDOW_MAGIC;
    rec_.userData = this;
    rec_.post = &MessageWindow::post;
    rec_.send = &MessageWindow::send;
    thread_ = std::thread([this] { loop(); });
}

MessageWindow::~MessageWindow() {
    close();
}

void MessageWindow::close() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stop_) return;
        stop_ = true;
    }
    closed_ = true;
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool MessageWindow::flag(uint32_t msg) {
    if (closed_) return false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stop_) return false;
        if (msg == PT_WM_LOG_WAITING)
            logFlag_ = true;
        else if (msg == PT_WM_EVENTS_WAITING)
            eventsFlag_ = true;
        else
            return true; // a message this host has no use for is taken and ignored
    }
    cv_.notify_one();
    return true;
}

int MessageWindow::post(NoxMessageWindow* self, uint32_t msg, uintptr_t, intptr_t) {
    if (!self || self->magic != NOX_MESSAGE_WINDOW_MAGIC) return 0;
    auto* w = static_cast<MessageWindow*>(self->userData);
    if (msg == PT_WM_COPYDATA) return 0; // its bytes live only as long as a send
    return w->flag(msg) ? 1 : 0;
}

int MessageWindow::send(NoxMessageWindow* self, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                        uint32_t, intptr_t* result) {
    if (!self || self->magic != NOX_MESSAGE_WINDOW_MAGIC) return 0;
    auto* w = static_cast<MessageWindow*>(self->userData);
    if (w->closed_) return 0;
    (void)wParam;
    if (msg == PT_WM_COPYDATA) {
        const auto* cd = reinterpret_cast<const NoxCopyData*>(lParam);
        if (!cd || (cd->size && !cd->data)) return 0;
        try {
            if (w->handlers_.copyData)
                w->handlers_.copyData(
                    cd->tag, std::string_view(static_cast<const char*>(cd->data), cd->size));
        } catch (...) {
            return 0; // the module keeps the line and offers it through GetLogEx
        }
        if (result) *result = 1;
        return 1;
    }
    if (!w->flag(msg)) return 0;
    if (result) *result = 0;
    return 1;
}

void MessageWindow::loop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [this] { return logFlag_ || eventsFlag_ || stop_; });
        bool log = logFlag_, events = eventsFlag_;
        logFlag_ = eventsFlag_ = false;
        if (!log && !events && stop_) return;
        lock.unlock();
        try {
            if (log && handlers_.logWaiting) handlers_.logWaiting();
            if (events && handlers_.eventsWaiting) handlers_.eventsWaiting();
        } catch (...) {
            // A failed fetch leaves the lines or events with the module; the next
            // notification or the final drain fetches them.
        }
        lock.lock();
    }
}

// ---- the host's send exports -------------------------------------------------------------

namespace {

struct ReplyRegistry {
    std::shared_mutex mu;
    std::map<uint32_t, ReplyFn> targets;
    uint32_t next = 1;
};

ReplyRegistry& replies() {
    static ReplyRegistry r;
    return r;
}

int32_t sendBytes(uint32_t hostTag, const void* data, size_t n) {
    ReplyRegistry& r = replies();
    std::shared_lock<std::shared_mutex> lock(r.mu);
    auto it = r.targets.find(hostTag);
    if (it == r.targets.end() || !it->second) return 0;
    try {
        return it->second(data, n) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

uint32_t registerReplyTarget(ReplyFn fn) {
    ReplyRegistry& r = replies();
    std::unique_lock<std::shared_mutex> lock(r.mu);
    uint32_t tag = r.next++;
    r.targets[tag] = std::move(fn);
    return tag;
}

void unregisterReplyTarget(uint32_t hostTag) {
    ReplyRegistry& r = replies();
    std::unique_lock<std::shared_mutex> lock(r.mu);
    r.targets.erase(hostTag);
}

} // namespace pt::host

// The module finds these with dlsym in the host executable (linked with -rdynamic). Each
// answers 1 when the bytes went out, 0 when they could not (no way back to the source).
extern "C" {

__attribute__((visibility("default"))) int32_t PT_STDCALL fSendData(uint32_t hostTag, uint32_t,
                                                                    uint32_t, const void* data,
                                                                    int32_t count) {
    if (!data || count <= 0) return 0;
    return pt::host::sendBytes(hostTag, data, static_cast<size_t>(count));
}

__attribute__((visibility("default"))) int32_t PT_STDCALL fSendString(uint32_t hostTag, uint32_t,
                                                                      uint32_t, const char* text) {
    if (!text) return pt::host::sendBytes(hostTag, "", 0);
    return pt::host::sendBytes(hostTag, text, strlen(text));
}

__attribute__((visibility("default"))) int32_t PT_STDCALL fSendByte(uint32_t hostTag, uint32_t,
                                                                    uint32_t, uint32_t byteValue) {
    unsigned char b = static_cast<unsigned char>(byteValue & 0xFF);
    return pt::host::sendBytes(hostTag, &b, 1);
}

} // extern "C"

namespace pt::host {

// ---- module object -----------------------------------------------------------------------

static std::atomic<uint32_t> nextInstance{1};

PluginSession::PluginSession(PluginLibrary& lib, ReplyFn reply,
                             std::function<void(const std::string&)> logLine,
                             std::function<void(const std::string&)> eventLine)
    : lib_(lib), logLine_(std::move(logLine)), eventLine_(std::move(eventLine)),
      instanceId_(nextInstance++), hostTag_(registerReplyTarget(std::move(reply))) {
    emptyParams_ = pt_list_new(&pt_host_list_class);
    input_ = pt_list_new(&pt_host_rows_list_class);
    if (!emptyParams_ || !input_) {
        pt_list_free(emptyParams_);
        pt_list_free(input_);
        unregisterReplyTarget(hostTag_);
        throw std::bad_alloc();
    }
    selfHandle_ = dlopen(nullptr, RTLD_NOW);
    MessageWindow::Handlers h;
    h.logWaiting = [this] { fetchLog(); };
    h.eventsWaiting = [this] { fetchEvents(); };
    h.copyData = [this](uintptr_t tag, std::string_view bytes) {
        emitLogBytes(bytes, tag == PT_COPYDATA_LOG_BLOCK);
    };
    window_ = std::make_unique<MessageWindow>(std::move(h));
}

PluginSession::~PluginSession() {
    try {
        close();
    } catch (...) {
        // Shutting down: what could not be fetched is lost with the module object.
    }
    pt_list_free(emptyParams_);
    pt_list_free(input_);
    dropNames();
    if (selfHandle_) dlclose(selfHandle_);
    unregisterReplyTarget(hostTag_);
}

void PluginSession::initRecord(TPluginCallRec& rec) const {
    memset(&rec, 0, sizeof rec);
    rec.Signature = PT_CALL_SIGNATURE;
    rec.InstanceId = instanceId_;
    rec.HostTag = hostTag_;
    rec.SourceTag = 1;
    rec.Params = emptyParams_;
}

int PluginSession::command(const char* name, const std::function<void(PtParamsList*)>& fill) {
    PtParamsList* params = pt_list_new(&pt_host_list_class);
    if (!params) throw std::bad_alloc();
    pt_list_add_text(params, "COMMAND", name);
    if (fill) fill(params);
    TPluginCallRec rec;
    initRecord(rec);
    rec.Params = params;
    int r = lib_.ExecutePluginCommand(&rec);
    pt_list_free(params);
    return r;
}

int PluginSession::load(const LoadOptions& o) {
    iniFile_ = o.iniFile;
    int r = command("LOAD", [&](PtParamsList* p) {
        pt_list_add_text(p, "RegistryPath", o.registryPath.c_str());
        pt_list_add_text(p, "INISectionPrefix", o.sectionPrefix.c_str());
        pt_list_add_text(p, "INI-FILE", o.iniFile.c_str());
        pt_list_add_int64(p, "HANDLE", reinterpret_cast<intptr_t>(selfHandle_));
        pt_list_add_int64(p, "MessagesProcessorHandle", window_->handle());
    });
    loaded_ = r == PT_RESULT_OK;
    return r;
}

int PluginSession::compile() {
    pt_list_free(input_);
    input_ = pt_list_new(&pt_host_rows_list_class);
    if (!input_) throw std::bad_alloc();
    // An empty packet addressed to the data-query role reaches the module's handler (an
    // empty packet for other roles counts as no data), which compiles before it looks at rows.
    return processList(input_, PT_MT_BIT(mttFilter) | PT_MT_BIT(mttDataQuery), nullptr);
}

int PluginSession::process(Packet& packet, RowSink& sink) {
    // One row goes as a plain list, several as a rows list with a marker after each row.
    const PtListClass* cls = packet.size() == 1 ? &pt_host_list_class : &pt_host_rows_list_class;
    if (input_->Class != cls) {
        pt_list_free(input_);
        input_ = pt_list_new(cls);
        if (!input_) throw std::bad_alloc();
    } else {
        input_->Class->Clear(input_);
    }
    for (Row& row : packet) {
        for (Field& f : row) {
            PtParamsListItem* it =
                pt_item_new(f.name.data(), static_cast<uint32_t>(f.name.size()), nullptr);
            if (!it) throw std::bad_alloc();
            it->Value = f.value.release();
            if (!pt_list_append(input_, it)) {
                pt_item_free(it);
                throw std::bad_alloc();
            }
        }
        if (packet.size() > 1) pt_list_add_new_row(input_);
    }
    return processList(input_, PT_MT_BIT(mttFilter), &sink);
}

void PluginSession::dropNames() {
    for (auto& [key, s] : names_) {
        pt_str_release(s.name);
        pt_str_release(s.lower);
    }
    names_.clear();
}

PtParamsListItem* PluginSession::newItem(const std::string& name, PtValue value) {
    auto* it = static_cast<PtParamsListItem*>(calloc(1, sizeof(PtParamsListItem)));
    if (!it) {
        pt_value_clear(&value);
        throw std::bad_alloc();
    }
    it->Class = &pt_item_class;
    it->State = PT_ITEM_STATE_SET;
    it->Value = value;
    if (name.empty()) return it;
    auto found = names_.find(name);
    if (found == names_.end()) {
        if (names_.size() >= 4096) dropNames(); // bounded, whatever names the input brings
        uint32_t len = static_cast<uint32_t>(name.size());
        NameStrings s{pt_str_new(name.data(), len), pt_str_new(name.data(), len)};
        if (!s.name || !s.lower) {
            pt_str_release(s.name);
            pt_str_release(s.lower);
            pt_item_free(it);
            throw std::bad_alloc();
        }
        pt_lower_name(s.lower, len);
        found = names_.emplace(name, s).first;
    }
    it->Name = found->second.name;
    it->LowerName = found->second.lower;
    pt_str_addref(it->Name);
    pt_str_addref(it->LowerName);
    return it;
}

int PluginSession::processList(PtParamsList* input, uint8_t callTypes, RowSink* sink) {
    std::lock_guard<std::mutex> lock(callMu_);
    TPluginCallRec rec;
    initRecord(rec);
    rec.CallTypes = callTypes;
    rec.DataKind = PT_DATAKIND_LIST;
    rec.Buffer = input;
    auto t = std::chrono::steady_clock::now();
    int r = lib_.ProcessData(&rec);
    callSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    if (r != PT_RESULT_OK || rec.ResultKind != PT_RESULTKIND_LIST || !rec.ResultValue) return r;
    auto* out = reinterpret_cast<PtParamsList*>(rec.ResultValue);
    if (!pt_list_valid(out) || !sink) return r;
    view_.clear();
    for (int32_t i = 0; i < out->Count; ++i) {
        const PtParamsListItem* it = out->Items[i];
        if (!it) continue;
        if (pt_item_is_new_row(it)) {
            sink->row(view_);
            view_.clear();
            continue;
        }
        view_.push_back(FieldView{
            std::string_view(it->Name ? it->Name : "", pt_str_bytes(it->Name)), &it->Value});
    }
    if (!view_.empty()) sink->row(view_); // a last row the module left open
    return r;
}

void PluginSession::emitLogBytes(std::string_view bytes, bool block) {
    auto one = [this](std::string_view line) {
        if (line.empty()) return;
        const char* word = "info: ";
        switch (static_cast<unsigned char>(line[0])) {
        case PT_LOG_ERROR + 1:
            word = "error: ";
            ++counters_.errorLines;
            break;
        case PT_LOG_WARNING + 1:
            word = "warning: ";
            ++counters_.warningLines;
            break;
        case PT_LOG_INFO + 1:
            ++counters_.infoLines;
            break;
        default: // no kind byte: show the line whole
            ++counters_.infoLines;
            logLine_(word + std::string(line));
            return;
        }
        logLine_(word + std::string(line.substr(1)));
    };
    if (!block) {
        one(bytes);
        return;
    }
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string_view::npos) end = bytes.size();
        one(bytes.substr(start, end - start));
        start = end + 2;
    }
}

void PluginSession::fetchLog() {
    std::string buf(4096, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        TPluginCallRec rec;
        initRecord(rec);
        rec.Buffer = buf.data();
        rec.BufferSize = static_cast<int32_t>(buf.size());
        int32_t n = lib_.GetLogEx(&rec);
        if (n > 0) {
            emitLogBytes(std::string_view(buf.data(), static_cast<size_t>(n)), true);
            return;
        }
        // 0 with a larger length pending: the buffer was too small; grow it and ask again.
        if (rec.ResultValue <= static_cast<intptr_t>(buf.size()) || rec.ResultValue > (1 << 26))
            return;
        buf.resize(static_cast<size_t>(rec.ResultValue) + 1024);
    }
}

void PluginSession::fetchEvents() {
    std::lock_guard<std::mutex> lock(callMu_);
    TPluginCallRec rec;
    initRecord(rec);
    if (lib_.GetEvents(&rec) != PT_RESULT_OK || rec.ResultKind != PT_RESULTKIND_LIST ||
        !rec.ResultValue)
        return;
    auto* events = reinterpret_cast<PtParamsList*>(rec.ResultValue);
    if (pt_list_valid(events)) {
        std::string line;
        std::vector<FieldView> view;
        for (int32_t i = 0; i < events->Count; ++i) {
            const PtParamsListItem* it = events->Items[i];
            if (!it) continue;
            if (pt_item_is_new_row(it)) {
                line.clear();
                appendEventLine(view, line);
                line.pop_back(); // the line break; the receiver adds its own
                ++counters_.events;
                eventLine_(line);
                view.clear();
                continue;
            }
            view.push_back(FieldView{
                std::string_view(it->Name ? it->Name : "", pt_str_bytes(it->Name)), &it->Value});
        }
    }
    // The second call, with the list's address still in ResultValue, has the list cleared.
    lib_.GetEvents(&rec);
}

void PluginSession::close() {
    if (closed_) return;
    closed_ = true;
    if (loaded_) {
        fetchEvents();
        fetchLog();
    }
    window_->close();
    if (loaded_) {
        command("UNLOAD",
                [&](PtParamsList* p) { pt_list_add_text(p, "INI-FILE", iniFile_.c_str()); });
        loaded_ = false;
    }
    // With the window closed, lines written during UNLOAD wait for GetLogEx.
    fetchLog();
    TPluginCallRec rec;
    initRecord(rec);
    rec.ReleaseFlag = PT_RELEASE_FLAG;
    rec.Params = nullptr;
    lib_.ExecutePluginCommand(&rec); // answers -1 by design: the object is gone
}

} // namespace pt::host
