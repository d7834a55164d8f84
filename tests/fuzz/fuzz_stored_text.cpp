// Fuzz target for stored texts: decoding takes anything, and every text survives encoding
// and decoding; numbers read from INI text never fail.
#include <string>

#include "fuzz_target.h"
#include "settings/TWregistry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    (void)pt::DecodeStoredText(text);
    PT_FUZZ_CHECK(pt::DecodeStoredText(pt::EncodeStoredText(text)) == text);
    (void)pt::StoredTextToInt(text);
    (void)pt::StoredTextToFloat(text);
    return 0;
}
