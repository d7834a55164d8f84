// Host-side costs per row: reading and parsing input lines, writing rows, and the whole loop
// (lines in, pass-through, lines out) without a plug-in. Rows have ten items of mixed kinds.
#include "Formats.h"
#include "LineReader.h"
#include "Runner.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace pt::host;

std::string jsonLine(int i) {
    return "{\"station\":\"north\",\"seq\":" + std::to_string(i) +
           ",\"temp_c\":21.5,\"hum\":40,\"wind_kmh\":12,\"pressure\":1013.25,\"ok\":true,"
           "\"note\":\"steady\",\"lat\":52.52,\"lon\":13.405}";
}

std::string csvLine(int i) {
    return "north," + std::to_string(i) + ",21.5,40,12,1013.25,1,steady,52.52,13.405";
}

const char* kCsvHeader = "station,seq,temp_c,hum,wind_kmh,pressure,ok,note,lat,lon";

void BM_ParseJsonl(benchmark::State& state) {
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i) lines.push_back(jsonLine(i));
    auto parser = makeParser(Format::Jsonl);
    Packet p;
    std::string error;
    size_t i = 0;
    for (auto _ : state) {
        parser->parse(lines[i++ % lines.size()], p, error);
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseJsonl);

void BM_ParseCsv(benchmark::State& state) {
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i) lines.push_back(csvLine(i));
    auto parser = makeParser(Format::Csv);
    Packet p;
    std::string error;
    parser->parse(kCsvHeader, p, error);
    size_t i = 0;
    for (auto _ : state) {
        parser->parse(lines[i++ % lines.size()], p, error);
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseCsv);

void BM_Write(benchmark::State& state, Format f) {
    auto parser = makeParser(Format::Jsonl);
    Packet p;
    std::string error;
    parser->parse(jsonLine(7), p, error);
    std::vector<FieldView> view;
    viewRow(p[0], view);
    auto writer = makeWriter(f);
    std::string out;
    for (auto _ : state) {
        out.clear();
        writer->write(view, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_Write, jsonl, Format::Jsonl);
BENCHMARK_CAPTURE(BM_Write, csv, Format::Csv);

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const std::string& text) : text_(text) { name_ = "memory"; }
    size_t read(char* buf, size_t n) override {
        size_t k = std::min(n, text_.size() - pos_);
        std::memcpy(buf, text_.data() + pos_, k);
        pos_ += k;
        return k;
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
};

// 100,000 rows per iteration through the whole run loop into /dev/null.
void BM_RunLoopJsonl(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += jsonLine(i) + "\n";
    int fd = open("/dev/null", O_WRONLY);
    ByteSink sink(fd, "/dev/null", true);
    for (auto _ : state) {
        MemorySource src(text);
        LineReader reader(src, 1 << 20);
        auto parser = makeParser(Format::Jsonl);
        auto writer = makeWriter(Format::Jsonl);
        PassThroughProcessor pass;
        Runner runner(reader, *parser, pass, *writer, sink, Console::err(), "memory",
                      RunSettings{});
        runner.run();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_RunLoopJsonl)->Unit(benchmark::kMillisecond);

} // namespace
