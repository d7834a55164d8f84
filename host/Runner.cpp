#include "Runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace pt::host {

using Clock = std::chrono::steady_clock;

static double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

int PassThroughProcessor::process(Packet& packet, RowSink& sink) {
    for (const Row& row : packet) {
        viewRow(row, view_);
        sink.row(view_);
    }
    return 0;
}

// Collects written rows into one buffer that goes out in large blocks, and keeps the time
// spent writing apart from the processor's.
class Runner::Sink final : public RowSink {
public:
    Sink(Runner& r) : r_(r) { buf_.reserve(kBlock + 4096); }
    void row(std::span<const FieldView> fields) override {
        auto t = Clock::now();
        r_.writer_.write(fields, buf_);
        ++r_.stats_.rowsOut;
        writeSeconds += since(t);
        if (buf_.size() >= kBlock) flush();
    }
    void flush() {
        if (buf_.empty()) return;
        auto t = Clock::now();
        struct Clear {
            std::string& b;
            ~Clear() { b.clear(); }
        } clear{buf_};
        r_.out_.write(buf_);
        r_.out_.flush();
        writeSeconds += since(t);
    }
    double writeSeconds = 0;

private:
    static constexpr size_t kBlock = 64 * 1024;
    Runner& r_;
    std::string buf_;
};

Runner::Runner(LineReader& reader, PacketParser& parser, PacketProcessor& processor,
               RowWriter& writer, ByteSink& out, Console& console, std::string sourceName,
               RunSettings settings)
    : reader_(reader), parser_(parser), processor_(processor), writer_(writer), out_(out),
      console_(console), sourceName_(std::move(sourceName)), settings_(settings) {}

void Runner::report(uint64_t line, const std::string& reason) {
    ++stats_.malformed;
    console_.line(sourceName_ + ":" + std::to_string(line) + ": skipped: " + reason);
}

void Runner::drawProgress(double elapsed) {
    if (elapsed - lastDraw_ < 0.1) return;
    lastDraw_ = elapsed;
    double frac = sizeHint_ > 0 ? static_cast<double>(reader_.bytesRead()) / sizeHint_ : 0;
    if (frac > 1) frac = 1;
    constexpr int kWidth = 30;
    int filled = static_cast<int>(frac * kWidth);
    std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "]";
    char text[160];
    std::snprintf(text, sizeof text, "%s %3d%%  %.1f/%.1f MB  %llu rows  %.0f rows/s", bar.c_str(),
                  static_cast<int>(frac * 100), reader_.bytesRead() / 1e6, sizeHint_ / 1e6,
                  static_cast<unsigned long long>(stats_.rowsIn),
                  elapsed > 0 ? stats_.rowsIn / elapsed : 0.0);
    console_.progress(text);
}

RunEnd Runner::run() {
    auto start = Clock::now();
    Sink sink(*this);
    reader_.setBeforeRead([&sink] { sink.flush(); });
    struct Unhook {
        LineReader& r;
        ~Unhook() { r.setBeforeRead(nullptr); }
    } unhook{reader_};
    Packet packet;
    std::string error;
    std::string_view line;
    RunEnd end = RunEnd::Done;
    double processSeconds = 0;
    // Plug-in time spent before the loop (the compile check) belongs to no row.
    const double pluginBefore = processor_.callSeconds();
    for (;;) {
        LineReader::Status st = reader_.next(line);
        if (st == LineReader::Status::End) break;
        ++stats_.lines;
        if (st == LineReader::Status::TooLong) {
            report(reader_.lineNumber(), "the line is longer than the limit");
            continue;
        }
        if (st == LineReader::Status::CutOff) {
            report(reader_.lineNumber(), "the input ended in the middle of the line");
            continue;
        }
        PacketParser::Result pr = parser_.parse(line, packet, error);
        if (pr == PacketParser::Result::Error) {
            report(reader_.lineNumber(), error);
            continue;
        }
        if (pr == PacketParser::Result::Skip) continue;
        ++stats_.packets;
        stats_.rowsIn += packet.size();
        auto t = Clock::now();
        double writtenBefore = sink.writeSeconds;
        int result = processor_.process(packet, sink);
        processSeconds += since(t) - (sink.writeSeconds - writtenBefore);
        if (result == -4 || result == -1) {
            lastResult_ = result;
            end = result == -4 ? RunEnd::CompileFailed : RunEnd::Refused;
            break;
        }
        if (result != 0) {
            lastResult_ = result;
            ++stats_.failedPackets;
        }
        if (settings_.progress && (stats_.packets & 1023) == 0) drawProgress(since(start));
    }
    sink.flush();
    if (settings_.progress) console_.endProgress();
    stats_.bytesIn = reader_.bytesRead();
    stats_.totalSeconds = since(start);
    stats_.writeSeconds = sink.writeSeconds;
    stats_.pluginSeconds = processor_.callSeconds() - pluginBefore;
    stats_.convertSeconds = std::max(0.0, processSeconds - stats_.pluginSeconds);
    stats_.readSeconds = std::max(0.0, stats_.totalSeconds - processSeconds - sink.writeSeconds);
    return end;
}

std::string formatStats(const RunStats& s) {
    char buf[640];
    double total = s.totalSeconds > 0 ? s.totalSeconds : 1e-9;
    auto pct = [&](double x) { return 100.0 * x / total; };
    std::snprintf(
        buf, sizeof buf,
        "stats: %llu packets, %llu rows in, %llu rows out, %llu rows discarded or not "
        "processed\n"
        "stats: %llu malformed lines skipped, %llu packets failed\n"
        "stats: %.3f s, %.0f rows/s (reading %.0f%%, converting %.0f%%, plug-in %.0f%%, "
        "writing %.0f%%)",
        static_cast<unsigned long long>(s.packets), static_cast<unsigned long long>(s.rowsIn),
        static_cast<unsigned long long>(s.rowsOut),
        static_cast<unsigned long long>(s.rowsIn > s.rowsOut ? s.rowsIn - s.rowsOut : 0),
        static_cast<unsigned long long>(s.malformed),
        static_cast<unsigned long long>(s.failedPackets), s.totalSeconds, s.rowsIn / total,
        pct(s.readSeconds), pct(s.convertSeconds), pct(s.pluginSeconds), pct(s.writeSeconds));
    return buf;
}

} // namespace pt::host
