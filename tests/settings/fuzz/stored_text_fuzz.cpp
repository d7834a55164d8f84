// Stored texts: decoding takes anything, and every text survives encoding and decoding.
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/TWregistry.h"

extern const std::vector<std::string> kFuzzSeeds = {
    "++a b++", "x := 1;%0d%0a", "50%%%2b", "%zz%41%", "%%%", std::string("\0 +", 3)};
extern const int kFuzzSmokeRuns = 20000;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    (void)pt::DecodeStoredText(text);
    if (pt::DecodeStoredText(pt::EncodeStoredText(text)) != text) std::abort();
    (void)pt::StoredTextToInt(text);
    (void)pt::StoredTextToFloat(text);
    return 0;
}
