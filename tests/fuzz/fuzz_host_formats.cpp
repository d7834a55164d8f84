// Fuzz target for the host's input formats. The input is split into lines by the host's line
// reader (as a stream that may end mid-line, with a small line limit); every line goes through
// the jsonl, csv and raw readers. A line a reader accepts, written back by the writer of the
// same format, reads back to the same rows: same names, kinds and values (a csv number beyond
// the double range reads back as Null, since the writer cannot carry it; raw text has its
// carriage returns turned into blanks).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "Formats.h"
#include "LineReader.h"
#include "fuzz_target.h"

namespace {

using namespace pt::host;

class BytesSource final : public ByteSource {
public:
    BytesSource(const uint8_t* d, size_t n) : d_(d), n_(n) { name_ = "fuzz"; }
    size_t read(char* buf, size_t cap) override {
        // Small, uneven reads: lines must not depend on how the input arrives.
        size_t k = std::min({cap, n_ - pos_, static_cast<size_t>(1 + pos_ % 97)});
        std::memcpy(buf, d_ + pos_, k);
        pos_ += k;
        return k;
    }
    bool isStream() const override { return true; }

private:
    const uint8_t* d_;
    size_t n_, pos_ = 0;
};

// The rows as text that compares names, kinds and values exactly.
std::string describe(const Packet& p, bool csvNonFiniteAsNull) {
    std::string out;
    for (const Row& row : p) {
        out += "[";
        for (const Field& f : row) {
            const PtValue& v = f.value.raw();
            bool nonFinite = v.vt == PT_VAR_DOUBLE && !std::isfinite(v.u.f64);
            out += f.name + "\x01";
            if (csvNonFiniteAsNull && nonFinite) {
                out += "1=null";
            } else {
                out += std::to_string(v.vt) + "=";
                if (nonFinite)
                    out += std::to_string(v.u.f64);
                else
                    appendJsonValue(v, out);
            }
            out += "\x02";
        }
        out += "]";
    }
    return out;
}

void roundTrip(Format f, const Packet& p) {
    auto writer = makeWriter(f);
    std::string text;
    std::vector<FieldView> view;
    for (const Row& row : p) {
        viewRow(row, view);
        writer->write(view, text);
    }
    auto reader = makeParser(f);
    Packet back, all;
    std::string error;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        PT_FUZZ_CHECK(nl != std::string::npos);
        std::string_view line(text.data() + start, nl - start);
        start = nl + 1;
        PacketParser::Result r = reader->parse(line, back, error);
        if (f == Format::Csv && first) {
            PT_FUZZ_CHECK(r == PacketParser::Result::Skip); // the header written first
            first = false;
            continue;
        }
        PT_FUZZ_CHECK(r == PacketParser::Result::Packet);
        for (Row& row : back) all.push_back(std::move(row));
    }
    if (f == Format::Raw) {
        PT_FUZZ_CHECK(all.size() == 1 && all[0].size() == 1 && all[0][0].name == "DATA");
        std::string want, got;
        appendPlainText(p[0][0].value.raw(), want);
        appendPlainText(all[0][0].value.raw(), got);
        for (char& c : want)
            if (c == '\r') c = ' ';
        PT_FUZZ_CHECK(got == want);
        return;
    }
    PT_FUZZ_CHECK(describe(all, false) == describe(p, f == Format::Csv));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BytesSource src(data, size);
    LineReader reader(src, 256);
    auto jsonl = makeParser(Format::Jsonl);
    auto csv = makeParser(Format::Csv);
    auto raw = makeParser(Format::Raw);
    Packet p;
    std::string error;
    std::string_view line;
    uint64_t lastLine = 0;
    for (;;) {
        LineReader::Status st = reader.next(line);
        if (st == LineReader::Status::End) break;
        PT_FUZZ_CHECK(reader.lineNumber() == lastLine + 1);
        lastLine = reader.lineNumber();
        if (st != LineReader::Status::Line) continue;
        PT_FUZZ_CHECK(line.size() <= 256);
        PT_FUZZ_CHECK(line.find('\n') == std::string_view::npos);

        if (jsonl->parse(line, p, error) == PacketParser::Result::Packet) {
            PT_FUZZ_CHECK(!p.empty());
            roundTrip(Format::Jsonl, p);
        }
        PacketParser::Result r = csv->parse(line, p, error);
        if (r == PacketParser::Result::Packet) {
            PT_FUZZ_CHECK(p.size() == 1);
            roundTrip(Format::Csv, p);
        }
        if (raw->parse(line, p, error) == PacketParser::Result::Packet) {
            PT_FUZZ_CHECK(p.size() == 1 && p[0].size() == 1 && p[0][0].name == "DATA");
            roundTrip(Format::Raw, p);
        }
    }
    return 0;
}
