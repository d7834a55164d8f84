// INI text: parsing never fails, and writing the parsed form back is stable (what was read
// from a written file writes the same text again).
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/IniFiles.h"

extern const std::vector<std::string> kFuzzSeeds = {
    "[Common]\r\nTop=1\r\n",
    "; c\n[P.Common]\n  Top = 5 \nx\n\n[Other]\n=v\n",
    "\xEF\xBB\xBF[a]\nk=v=w\n[a]\nk=2\n",
    "[]\n[ ]\n[[x]]\n]\n[\n",
};
extern const int kFuzzSmokeRuns = 3000;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    pt::TIniFile ini;
    ini.SetText(text);
    std::string once = ini.Text();
    pt::TIniFile again;
    again.SetText(once);
    if (again.Text() != once) std::abort();
    // Keys and sections taken from the input itself.
    size_t cut = size / 3;
    std::string section = text.substr(0, cut), key = text.substr(cut, cut);
    (void)ini.ReadValue(section, key);
    try {
        ini.WriteString(section, key, text.substr(2 * cut));
        auto v = ini.ReadValue(section, key);
        if (!v) std::abort();
    } catch (const pt::EIniFileException&) {
    }
    return 0;
}
