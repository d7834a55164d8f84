// Fuzz target for registry key files: whatever a key file holds, reading the key never crashes
// and a change always lands.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fuzz_target.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"

namespace {

// Kept alive until the exit handler that removes the folder has run.
const std::string& Root() {
    static const std::string* root = [] {
        char tmpl[] = "/tmp/pt_regfuzz_XXXXXX";
        auto* r = new std::string(mkdtemp(tmpl));
        setenv("PIPETASK_REGISTRY_HKCU", r->c_str(), 1);
        std::filesystem::create_directories(*r + "/K");
        std::atexit([] { std::filesystem::remove_all(Root()); });
        return r;
    }();
    return *root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = Root() + "/K/.values";
    PT_FUZZ_CHECK(
        pt::WriteFileAtomic(file, std::string(reinterpret_cast<const char*>(data), size)) == 0);
    pt::TRegistry reg(pt::TRegRootKey::HKEY_CURRENT_USER);
    PT_FUZZ_CHECK(reg.OpenKey("K", false));
    for (const std::string& name : reg.GetValueNames()) {
        try {
            (void)reg.ReadInteger(name);
        } catch (const pt::ERegistryException&) {
        }
        try {
            (void)reg.ReadString(name);
        } catch (const pt::ERegistryException&) {
        }
    }
    reg.WriteString("fuzz new value", "v");
    PT_FUZZ_CHECK(reg.ReadString("fuzz new value") == "v");
    return 0;
}
