#include "platform/CrashReporter.h"

#include "script/runtime/fs_errors.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>
#include <exception>
#include <mutex>
#include <typeinfo>

namespace pt {

namespace {

std::mutex& HookLock() {
    static std::mutex m;
    return m;
}
TExceptionReportHook& Hook() {
    static TExceptionReportHook h;
    return h;
}

std::string Demangle(const char* name) {
    int status = 0;
    char* d = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = (status == 0 && d) ? d : name;
    std::free(d);
    return out;
}

std::string CallStack() {
    void* frames[48];
    int n = backtrace(frames, 48);
    std::string out;
    char** names = backtrace_symbols(frames, n);
    // Frame 0 is this function and frame 1 the description; they say nothing about the fault.
    for (int i = 2; i < n; ++i) {
        out += "  ";
        out += names ? names[i] : "?";
        out += '\n';
    }
    std::free(names);
    return out;
}

} // namespace

std::string CurrentExceptionDescription() {
    std::exception_ptr current = std::current_exception();
    if (!current) return {};
    std::type_info* type = abi::__cxa_current_exception_type();
    std::string className = type ? Demangle(type->name()) : "unknown";
    std::string message;
    try {
        std::rethrow_exception(current);
    } catch (const EScriptError& e) {
        className = e.className();
        message = e.message();
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    return "Exception class: " + className + "\nMessage: " + message + "\nCall stack:\n" +
           CallStack();
}

void ReportCurrentException() noexcept {
    try {
        TExceptionReportHook hook;
        {
            std::lock_guard<std::mutex> g(HookLock());
            hook = Hook();
        }
        if (hook) hook(CurrentExceptionDescription());
    } catch (...) {
    }
}

TExceptionReportHook SetExceptionReportHook(TExceptionReportHook hook) {
    std::lock_guard<std::mutex> g(HookLock());
    TExceptionReportHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

} // namespace pt
