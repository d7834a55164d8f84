// Front-end cost of a 1000-line PascalScript program: the whole MakeIL, and the parts that can
// be timed on their own (grammar selection, reading the intermediate text into the tree, a
// plain token scan of the source).
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "script/front/fs_iilparser.h"

namespace {

// Routines with locals, every statement kind and a main block calling them; 1000 lines.
std::string GenerateProgram(int lines) {
    std::string s = "program Bench;\n"
                    "const Limit = 100; Name = 'bench';\n"
                    "var total, i: Integer; text: String; data: array[0..9] of Double;\n";
    int count = 3, n = 0;
    auto add = [&](const std::string& line) {
        s += line;
        s += '\n';
        ++count;
    };
    while (count < lines - 12) {
        const std::string id = std::to_string(n++);
        add("function Work" + id + "(a: Integer; var b: Double; const c: String = ''): Integer;");
        add("var k, m: Integer; t: String;");
        add("begin");
        add("  Result := 0; t := c + 'x' + IntToStr(a);");
        add("  for k := 1 to a do");
        add("    if (k mod 3 = 0) and not (k > Limit) then Result := Result + k * 2");
        add("    else Result := Result - (k div 2);");
        add("  while b < 10.5e1 do b := b * 1.5 + $FF;");
        add("  case a of 0: m := 1; 1, 2: m := 2; 3..9: m := 3; else m := 4; end;");
        add("  try m := m div (a - a) except m := -1 end;");
        add("  repeat m := m + 1 until (m >= 10) or (k <> m);");
        add("  data[m mod 10] := b; text := Copy(t, 1, Length(t) - 1);");
        add("end;");
        add("");
    }
    add("begin");
    add("  total := 0;");
    for (int k = 0; k < n && count < lines - 1; ++k)
        add("  total := total + Work" + std::to_string(k) + "(i, data[" + std::to_string(k % 10) +
            "], Name);");
    while (count < lines - 1) add("  total := total + 1; { filler }");
    add("end.");
    return s;
}

const std::string& Source() {
    static const std::string text = pt::JoinLines(pt::SplitLines(GenerateProgram(1000)));
    return text;
}

void BM_MakeIL_1000Lines(benchmark::State& state) {
    pt::TfsILOwnerData owner;
    pt::TfsILParser parser(owner);
    parser.SelectLanguage("PascalScript");
    for (auto _ : state) {
        bool ok = parser.MakeIL(Source());
        benchmark::DoNotOptimize(ok);
        if (!ok) state.SkipWithError(("parse failed: " + owner.errorText).c_str());
    }
    state.counters["lines"] = 1000;
    state.counters["bytes"] = static_cast<double>(Source().size());
}
BENCHMARK(BM_MakeIL_1000Lines)->Unit(benchmark::kMillisecond);

void BM_SelectLanguage(benchmark::State& state) {
    pt::TfsILOwnerData owner;
    pt::TfsILParser parser(owner);
    for (auto _ : state) parser.SelectLanguage("PascalScript");
}
BENCHMARK(BM_SelectLanguage)->Unit(benchmark::kMicrosecond);

// The XML reader's share: reading the finished intermediate text into the tree.
void BM_ILTextLoad(benchmark::State& state) {
    pt::TfsILOwnerData owner;
    pt::TfsILParser parser(owner);
    parser.SelectLanguage("PascalScript");
    parser.MakeIL(Source());
    parser.ILDocument().Indented = true; // one element per line, as MakeIL feeds the reader
    const std::string il = parser.ILDocument().SaveToString();
    pt::TfsXMLDocument doc;
    for (auto _ : state) doc.LoadFromString(il);
    state.counters["il_bytes"] = static_cast<double>(il.size());
}
BENCHMARK(BM_ILTextLoad)->Unit(benchmark::kMillisecond);

// A lower bound of the scanner's share: every token of the source read once, in order.
void BM_ScanTokensOnce(benchmark::State& state) {
    pt::TfsILOwnerData owner;
    pt::TfsILParser parser(owner);
    parser.SelectLanguage("PascalScript"); // configures the scanner
    pt::TfsParser& scanner = parser.Scanner();
    int tokens = 0;
    for (auto _ : state) {
        scanner.SetText(Source());
        tokens = 0;
        for (;;) {
            scanner.SkipBlanks();
            if (scanner.Position() > scanner.Size()) break;
            if (scanner.ReadWord().empty() && scanner.ReadNumber().empty() &&
                scanner.ReadString().empty() && scanner.ReadPunctuation().empty())
                scanner.SetPosition(scanner.Position() + 1);
            benchmark::DoNotOptimize(scanner.PositionText());
            ++tokens;
        }
    }
    state.counters["tokens"] = tokens;
}
BENCHMARK(BM_ScanTokensOnce)->Unit(benchmark::kMillisecond);

} // namespace
