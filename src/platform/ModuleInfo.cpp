#include "platform/ModuleInfo.h"

#include "common/pt_build.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace pt {

namespace {
// Any symbol of this module will do for dladdr.
void ModuleAnchor() {}
} // namespace

std::string ModuleFilePath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ModuleAnchor), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    if (path.find('/') == std::string::npos) {
        // The main program is reported by its invocation name; ask the kernel instead.
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) path.assign(buf, static_cast<size_t>(n));
    }
    return path;
}

std::string ModuleDirectory() {
    std::string path = ModuleFilePath();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string ModuleFileName() {
    std::string path = ModuleFilePath();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ModuleVersionText() {
    // The build gives "major.minor.release.build".
    std::string v = BuildVersionText();
    size_t dot = v.rfind('.');
    if (v.empty() || dot == std::string::npos) return {};
    return v.substr(0, dot) + " build " + v.substr(dot + 1);
}

namespace {

// Paths of the objects loaded in the process; "" for the main program. The loader's lock is
// held only while the list is read, so that objects loaded or unloaded by other threads
// meanwhile cannot be met half-made.
std::vector<std::string> LoadedObjects() {
    std::vector<std::string> paths;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) {
            auto* out = static_cast<std::vector<std::string>*>(data);
            try {
                out->emplace_back(info->dlpi_name ? info->dlpi_name : "");
            } catch (...) {
                return 1;
            }
            return 0;
        },
        &paths);
    return paths;
}

// A handle of the loaded object at `path` ("" for the main program); null when it is gone.
void* HandleOf(const std::string& path) {
    return dlopen(path.empty() ? nullptr : path.c_str(), RTLD_NOW | RTLD_NOLOAD);
}

std::string ExecutablePath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool IsLoadedModuleHandle(void* handle) noexcept {
    if (!handle) return false;
    try {
        // A dlopen handle is compared with the handles of the loaded objects, so that a
        // stray number is never handed to the loader.
        for (const std::string& path : LoadedObjects()) {
            void* h = HandleOf(path);
            if (!h) continue;
            dlclose(h);
            if (h == handle) return true;
        }
    } catch (...) {
    }
    return false;
}

void* OpenLoadedModule(const std::string& name) noexcept {
    if (name.empty()) return nullptr;
    try {
        if (void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD)) return h;
        // A bare file name that the loader does not resolve: compare with the file names of
        // the loaded objects and of the main program.
        for (const std::string& path : LoadedObjects()) {
            const std::string file = path.empty() ? ExecutablePath() : path;
            if (file == name || BaseName(file) == name)
                if (void* h = HandleOf(path)) return h;
        }
    } catch (...) {
    }
    return nullptr;
}

void CloseModule(void* handle) noexcept {
    if (handle) dlclose(handle);
}

void* ModuleExport(void* handle, const char* name) noexcept {
    if (!handle || !IsLoadedModuleHandle(handle)) return nullptr;
    return dlsym(handle, name);
}

} // namespace pt
