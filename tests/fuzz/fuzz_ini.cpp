// Fuzz target for INI text. Parsing never fails, and the parsed form written out reads back
// to the same text; an entry that can be written reads back.
#include <string>

#include "fuzz_target.h"
#include "platform/IniFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    pt::TIniFile ini;
    ini.SetText(text);
    std::string once = ini.Text();
    pt::TIniFile again;
    again.SetText(once);
    PT_FUZZ_CHECK(again.Text() == once);
    // Section, key and value taken from the input itself.
    size_t cut = size / 3;
    std::string section = text.substr(0, cut), key = text.substr(cut, cut);
    (void)ini.ReadValue(section, key);
    try {
        ini.WriteString(section, key, text.substr(2 * cut));
        PT_FUZZ_CHECK(ini.ReadValue(section, key).has_value());
    } catch (const pt::EIniFileException&) {
    }
    return 0;
}
