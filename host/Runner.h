// The run loop: lines from a source, parsed into packets, through a packet processor (the
// plug-in), rows out in the output format. Malformed lines are reported and skipped.
#pragma once

#include "Console.h"
#include "Formats.h"
#include "LineReader.h"
#include "Sources.h"

#include <span>

namespace pt::host {

class RowSink {
public:
    virtual void row(std::span<const FieldView> fields) = 0;

protected:
    ~RowSink() = default;
};

class PacketProcessor {
public:
    virtual ~PacketProcessor() = default;
    // Runs one packet; every output row reaches `sink` before this returns. The answer is the
    // plug-in's result code (0 processed, -3 failed, -4 the script does not compile, -1
    // refused).
    virtual int process(Packet& packet, RowSink& sink) = 0;
    // Of the time spent in process(), the part spent inside the plug-in's own calls (the
    // rest is the host turning packets into lists and lists into rows).
    virtual double callSeconds() const { return 0; }
};

// Hands every row on unchanged; for measuring the host alone and for tests.
class PassThroughProcessor final : public PacketProcessor {
public:
    int process(Packet& packet, RowSink& sink) override;

private:
    std::vector<FieldView> view_;
};

struct RunStats {
    uint64_t lines = 0, packets = 0, rowsIn = 0, rowsOut = 0;
    uint64_t malformed = 0;     // input lines reported and skipped
    uint64_t failedPackets = 0; // packets the plug-in answered with an error
    uint64_t bytesIn = 0;
    // Wall time: reading and parsing input, turning packets into lists and back (convert),
    // inside the plug-in's calls (plugin), writing output.
    double readSeconds = 0, convertSeconds = 0, pluginSeconds = 0, writeSeconds = 0;
    double totalSeconds = 0;
};

enum class RunEnd { Done, CompileFailed, Refused };

struct RunSettings {
    // Draw a progress bar on standard error (a terminal) for sources of known size.
    bool progress = false;
};

class Runner {
public:
    Runner(LineReader& reader, PacketParser& parser, PacketProcessor& processor, RowWriter& writer,
           ByteSink& out, Console& console, std::string sourceName, RunSettings settings);
    // Throws IoError when reading input or writing output fails.
    RunEnd run();
    const RunStats& stats() const { return stats_; }
    // The last result code of the processor when run() did not end with Done.
    int lastResult() const { return lastResult_; }
    void setSizeHint(int64_t bytes) { sizeHint_ = bytes; }

private:
    class Sink;
    void report(uint64_t line, const std::string& reason);
    void drawProgress(double elapsed);

    LineReader& reader_;
    PacketParser& parser_;
    PacketProcessor& processor_;
    RowWriter& writer_;
    ByteSink& out_;
    Console& console_;
    std::string sourceName_;
    RunSettings settings_;
    RunStats stats_;
    int lastResult_ = 0;
    int64_t sizeHint_ = -1;
    double lastDraw_ = 0;
};

// The --stats summary, a few lines of text.
std::string formatStats(const RunStats& s);

} // namespace pt::host
