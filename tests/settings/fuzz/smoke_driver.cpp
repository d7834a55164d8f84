// Stands in for libFuzzer in ordinary builds: feeds the target its seeds and a fixed number
// of deterministic mutations of them (byte flips, insertions, deletions, splices).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern const std::vector<std::string> kFuzzSeeds;
extern const int kFuzzSmokeRuns;

int main() {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (const std::string& s : kFuzzSeeds)
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    for (int run = 0; run < kFuzzSmokeRuns; ++run) {
        std::string s = kFuzzSeeds[next() % kFuzzSeeds.size()];
        int edits = 1 + static_cast<int>(next() % 8);
        for (int e = 0; e < edits; ++e) {
            size_t at = s.empty() ? 0 : next() % (s.size() + 1);
            switch (next() % 4) {
            case 0:
                if (at < s.size()) s[at] = static_cast<char>(next());
                break;
            case 1:
                s.insert(at, 1, static_cast<char>(next()));
                break;
            case 2:
                if (at < s.size()) s.erase(at, 1 + next() % 4);
                break;
            default: {
                const std::string& o = kFuzzSeeds[next() % kFuzzSeeds.size()];
                s.insert(at, o.substr(0, next() % (o.size() + 1)));
            }
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    std::printf("%d inputs\n", static_cast<int>(kFuzzSeeds.size()) + kFuzzSmokeRuns);
    return 0;
}
