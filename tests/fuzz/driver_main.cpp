// Standalone driver for a fuzz target, used where libFuzzer is not available (g++ builds)
// and for the smoke runs in the test suite. It runs every file of the given corpus folders
// (or single files, e.g. a crash reproducer), then a number of inputs made by mutating them
// with a seeded generator, so a run is repeatable.
//
//   fuzz_<target>_smoke [--runs N] [--seconds S] [--seed X] [--max-len L] <dir|file>...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "fuzz_target.h"

namespace {

// The input being run, written out by the crash handler so that a failure can be replayed.
const uint8_t* g_current = nullptr;
size_t g_currentSize = 0;
const char kCrashFile[] = "fuzz-crash-input.bin";

extern "C" void OnCrash(int sig) {
    int fd = ::open(kCrashFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        if (g_current && g_currentSize) (void)!::write(fd, g_current, g_currentSize);
        ::close(fd);
    }
    const char msg[] = "fuzz driver: crash; input saved to fuzz-crash-input.bin\n";
    (void)!::write(2, msg, sizeof msg - 1);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void Run(const std::vector<uint8_t>& b) {
    g_current = b.data();
    g_currentSize = b.size();
    LLVMFuzzerTestOneInput(b.data(), b.size());
}

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Tokens that matter to the readers: markers, quotes, escapes, tags.
const char* const kTokens[] = {"<?xml version=\"1.0\"?>",
                               "<!--",
                               "-->",
                               "</",
                               "/>",
                               "=\"",
                               "&#",
                               "&quot;",
                               "&#34;",
                               ";",
                               "'",
                               "''",
                               "\"",
                               "#",
                               "#$",
                               "\\x",
                               "\\",
                               "$",
                               "0x",
                               "{",
                               "}",
                               "(*",
                               "*)",
                               "//",
                               "rem",
                               "\r\n",
                               "\n",
                               "_",
                               ".",
                               "e+",
                               "99999999999",
                               "<",
                               ">",
                               "["};

class Mutator {
public:
    Mutator(uint64_t seed, size_t maxLen) : rng_(seed), maxLen_(maxLen) {}

    Bytes Mutate(const Bytes& in, const std::vector<Bytes>& pool) {
        Bytes b = in;
        for (int n = 1 + Pick(8); n > 0; --n) {
            switch (Pick(7)) {
            case 0: // flip a byte
                if (!b.empty()) b[Pick(b.size())] ^= static_cast<uint8_t>(1 + Pick(255));
                break;
            case 1: // insert a random byte
                b.insert(b.begin() + Pick(b.size() + 1), static_cast<uint8_t>(Pick(256)));
                break;
            case 2: { // insert a token
                const char* t = kTokens[Pick(std::size(kTokens))];
                b.insert(b.begin() + Pick(b.size() + 1), t, t + std::strlen(t));
                break;
            }
            case 3: // delete a range
                if (!b.empty()) {
                    size_t at = Pick(b.size());
                    size_t len = 1 + Pick(std::min<size_t>(16, b.size() - at));
                    b.erase(b.begin() + at, b.begin() + at + len);
                }
                break;
            case 4: // duplicate a range
                if (!b.empty()) {
                    size_t at = Pick(b.size());
                    size_t len = 1 + Pick(std::min<size_t>(64, b.size() - at));
                    Bytes part(b.begin() + at, b.begin() + at + len);
                    b.insert(b.begin() + Pick(b.size() + 1), part.begin(), part.end());
                }
                break;
            case 5: // splice in a piece of another input
                if (!pool.empty()) {
                    const Bytes& o = pool[Pick(pool.size())];
                    if (!o.empty()) {
                        size_t at = Pick(o.size());
                        size_t len = 1 + Pick(o.size() - at);
                        b.insert(b.begin() + Pick(b.size() + 1), o.begin() + at,
                                 o.begin() + at + len);
                    }
                }
                break;
            default: // truncate
                if (!b.empty()) b.resize(Pick(b.size()));
            }
        }
        if (b.size() > maxLen_) b.resize(maxLen_);
        return b;
    }

private:
    size_t Pick(size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng_) : 0; }
    std::mt19937_64 rng_;
    size_t maxLen_;
};

} // namespace

int main(int argc, char** argv) {
    long runs = 10000;
    double seconds = 1e9;
    uint64_t seed = 1;
    size_t maxLen = 4096;
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "missing value after %s\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--runs")
            runs = std::atol(next());
        else if (a == "--seconds")
            seconds = std::atof(next());
        else if (a == "--seed")
            seed = std::strtoull(next(), nullptr, 10);
        else if (a == "--max-len")
            maxLen = std::strtoull(next(), nullptr, 10);
        else
            paths.emplace_back(a);
    }

    std::vector<Bytes> pool;
    for (const auto& p : paths) {
        if (std::filesystem::is_directory(p)) {
            std::vector<std::filesystem::path> files;
            for (const auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) pool.push_back(ReadFile(f));
        } else {
            pool.push_back(ReadFile(p));
        }
    }
    for (int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(sig, OnCrash);
    for (const Bytes& b : pool) Run(b);

    const auto start = std::chrono::steady_clock::now();
    Mutator m(seed, maxLen);
    long done = 0;
    Bytes empty;
    for (; done < runs; ++done) {
        if ((done & 63) == 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
                seconds)
            break;
        const Bytes& base = pool.empty() ? empty : pool[done % pool.size()];
        Bytes input = m.Mutate(base, pool);
        Run(input);
    }
    std::printf("%zu corpus inputs, %ld mutated inputs: no failure\n", pool.size(), done);
    return 0;
}
