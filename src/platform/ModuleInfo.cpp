#include "platform/ModuleInfo.h"

#include "common/pt_build.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

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

bool IsLoadedModuleHandle(void* handle) noexcept {
    if (!handle) return false;
    // In glibc a dlopen handle is the object's link map; walk the process's chain of them.
    void* self = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
    if (!self) return false;
    struct link_map* map = nullptr;
    bool found = false;
    if (dlinfo(self, RTLD_DI_LINKMAP, &map) == 0 && map) {
        while (map->l_prev) map = map->l_prev;
        for (; map && !found; map = map->l_next) found = map == handle;
    }
    found = found || handle == self;
    dlclose(self);
    return found;
}

void* OpenLoadedModule(const std::string& name) noexcept {
    if (name.empty()) return nullptr;
    if (void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD)) return h;
    // A bare file name that the loader does not resolve: compare with the loaded objects'
    // file names, and with the main program's.
    void* self = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
    if (!self) return nullptr;
    struct link_map* map = nullptr;
    void* result = nullptr;
    if (dlinfo(self, RTLD_DI_LINKMAP, &map) == 0 && map) {
        while (map->l_prev) map = map->l_prev;
        for (; map && !result; map = map->l_next) {
            const char* path = map->l_name;
            if (!path || !*path) {
                char buf[4096];
                ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
                if (n <= 0) continue;
                buf[n] = 0;
                const char* base = std::strrchr(buf, '/');
                if (std::strcmp(base ? base + 1 : buf, name.c_str()) == 0 || name == buf)
                    result = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
                continue;
            }
            const char* base = std::strrchr(path, '/');
            if (std::strcmp(base ? base + 1 : path, name.c_str()) == 0)
                result = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        }
    }
    dlclose(self);
    return result;
}

void CloseModule(void* handle) noexcept {
    if (handle) dlclose(handle);
}

void* ModuleExport(void* handle, const char* name) noexcept {
    if (!handle || !IsLoadedModuleHandle(handle)) return nullptr;
    return dlsym(handle, name);
}

} // namespace pt
