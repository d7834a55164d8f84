// Throughput of the front end's readers: the XML tree on a generated intermediate program of
// about 300 KB (reading from a string and from a stream, writing flat and indented), and the
// scanner tokenising a generated PascalScript source.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "script/front/fs_iparser.h"
#include "script/front/fs_xml.h"

namespace {

// Lines as the parser emits them (one element per line, CR LF), for `statements` statements
// of the form  Log('text' + IntToStr(i * 2));
std::string IntermediateProgram(int statements) {
    std::string s = "<?xml version=\"1.0\"?>\r\n<program>\r\n";
    s += "<var pos=\"1:5\">\r\n<ident text=\"i\" pos=\"1:6\"/>\r\n"
         "<type text=\"Integer\" pos=\"1:15\"/>\r\n</var>\r\n<compoundstmt pos=\"2:1\">\r\n";
    for (int n = 0; n < statements; ++n) {
        const std::string line = std::to_string(n + 3);
        auto pos = [&](int col) { return "\"" + line + ":" + std::to_string(col) + "\""; };
        s += "<callstmt pos=" + pos(3) + ">\r\n<dsgn pos=" + pos(3) + ">\r\n";
        s += "<node text=\"Log\" pos=" + pos(6) + "/>\r\n";
        s += "<expr pos=" + pos(7) + " pos1=" + pos(34) + ">\r\n";
        s += "<string text=\"'line &#34;" + line + "&#34;'\" pos=" + pos(19) + "/>\r\n";
        s += "<op text=\"+\" pos=" + pos(21) + "/>\r\n<dsgn pos=" + pos(22) + ">\r\n";
        s += "<node text=\"IntToStr\" pos=" + pos(30) + "/>\r\n<expr pos=" + pos(31) +
             " pos1=" + pos(36) + ">\r\n";
        s += "<dsgn pos=" + pos(31) + ">\r\n<node text=\"i\" pos=" + pos(32) + "/>\r\n</dsgn>\r\n";
        s += "<op text=\"*\" pos=" + pos(34) + "/>\r\n<number text=\"2\" pos=" + pos(36) + "/>\r\n";
        s += "</expr>\r\n</dsgn>\r\n</expr>\r\n</dsgn>\r\n</callstmt>\r\n";
    }
    s += "</compoundstmt>\r\n<types/>\r\n</program>\r\n";
    return s;
}

const std::string& Program() {
    static const std::string text = IntermediateProgram(700);
    return text;
}

void BM_XmlReadString(benchmark::State& state) {
    const std::string& text = Program();
    pt::TfsXMLDocument doc;
    for (auto _ : state) {
        doc.LoadFromString(text);
        benchmark::DoNotOptimize(doc.Root()->Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["KB"] = static_cast<double>(text.size()) / 1024;
}
BENCHMARK(BM_XmlReadString)->Unit(benchmark::kMillisecond);

void BM_XmlReadStream(benchmark::State& state) {
    const std::string& text = Program();
    pt::TfsXMLDocument doc;
    for (auto _ : state) {
        std::istringstream in(text);
        doc.LoadFromStream(in);
        benchmark::DoNotOptimize(doc.Root()->Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_XmlReadStream)->Unit(benchmark::kMillisecond);

void BM_XmlWrite(benchmark::State& state) {
    pt::TfsXMLDocument doc;
    doc.LoadFromString(Program());
    doc.Indented = state.range(0) != 0;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out = doc.SaveToString();
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_XmlWrite)->Arg(0)->Arg(1)->ArgName("indented")->Unit(benchmark::kMillisecond);

void BM_XmlProp(benchmark::State& state) {
    pt::TfsXMLItem item;
    item.Text = "text=\"'line &#34;12&#34;'\" pos=\"12:19\" pos1=\"12:34\"";
    for (auto _ : state) {
        benchmark::DoNotOptimize(item.Prop("text"));
        benchmark::DoNotOptimize(item.Prop("pos1"));
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_XmlProp);

std::string PascalSource(int statements) {
    std::string s = "var i: Integer; s: String;\r\nbegin\r\n";
    for (int n = 0; n < statements; ++n) {
        s += "  { statement " + std::to_string(n) + " }\r\n";
        s +=
            "  s := 'item ''" + std::to_string(n) + "''' + #13#10 + IntToStr(i * $1F + 2.5e3);\r\n";
        s += "  if (i <> 0) and (s = '') then Log(s); // note\r\n";
    }
    s += "end.\r\n";
    return s;
}

// Tokenises as the grammar interpreter would: numbers, strings, words, punctuation; the
// position text of every token is taken as the parser does for its output.
void BM_ScannerTokens(benchmark::State& state) {
    static const std::string text = PascalSource(3000);
    pt::TfsParser p;
    for (const char* k : {"var", "begin", "end", "if", "then", "and", "or", "not"}) p.AddKeyword(k);
    int64_t tokens = 0;
    const bool positions = state.range(0) != 0;
    for (auto _ : state) {
        p.SetText(text);
        for (;;) {
            p.SkipBlanks();
            if (p.Position() > p.Size()) break;
            bool read = !p.ReadNumber().empty() || !p.ReadString().empty() ||
                        !p.ReadWord().empty() || !p.ReadPunctuation().empty();
            if (!read) p.SetPosition(p.Position() + 1);
            if (positions) benchmark::DoNotOptimize(p.PositionText());
            ++tokens;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(tokens);
}
BENCHMARK(BM_ScannerTokens)->Arg(0)->Arg(1)->ArgName("positions")->Unit(benchmark::kMillisecond);

} // namespace
