// The module's own file and the host's module: Linux stand-ins for module handles, module file
// names, version resources and exported functions (dladdr, dlopen, dlsym).
#pragma once

#include <string>

namespace pt {

// Full path of the file this code was loaded from (the shared object, or the executable when
// the core is linked statically); empty when it cannot be found.
std::string ModuleFilePath();
// Directory of ModuleFilePath() with a trailing '/'.
std::string ModuleDirectory();
// ModuleFilePath() without its directory.
std::string ModuleFileName();
// "major.minor.release build N" from the build's version; empty when the build has none.
std::string ModuleVersionText();

// A host module handle. `handle` is what the host passed as "HANDLE" (a handle from dlopen);
// it is accepted only when it denotes a loaded object of this process, so a stray number
// never reaches dlsym.
bool IsLoadedModuleHandle(void* handle) noexcept;
// Opens the already loaded module named `name` (a path or a file name) without loading
// anything new; null when no such module is loaded. Close with CloseModule.
void* OpenLoadedModule(const std::string& name) noexcept;
void CloseModule(void* handle) noexcept;
// An exported function of a module; null when missing.
void* ModuleExport(void* handle, const char* name) noexcept;

} // namespace pt
