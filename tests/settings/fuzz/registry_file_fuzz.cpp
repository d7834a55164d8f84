// Registry key files: whatever a key file holds, reading the key never crashes and a change
// always lands.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileUtil.h"
#include "platform/Registry.h"

extern const std::vector<std::string> kFuzzSeeds = {
    "\"a\"=dword:0000002a\n\"b\"=sz:\"x\\r\\n\\x01\"\n@=hex:01,02\n",
    "\"c\"=hex(7):61,00\njunk\n\"d\"=sz:\"open\n",
    "\"\\\"q\\\\\"=dword:ffffffff\r\n\r\n",
};
extern const int kFuzzSmokeRuns = 120;

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
    std::string text(reinterpret_cast<const char*>(data), size);
    if (pt::WriteFileAtomic(file, text) != 0) std::abort();
    pt::TRegistry reg(pt::TRegRootKey::HKEY_CURRENT_USER);
    if (!reg.OpenKey("K", false)) std::abort();
    try {
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
    } catch (const pt::ERegistryException&) {
        std::abort();
    }
    std::string after;
    pt::ReadWholeFile(file, after);
    if (after.find("\"fuzz new value\"=sz:\"v\"") == std::string::npos) std::abort();
    return 0;
}
