// Fuzz target for the scanner: arbitrary settings and text, every reading operation at
// arbitrary positions, then a full tokenising pass. Checks that positions stay inside the
// text, that readers either make progress or report nothing, and that position texts map back
// to their positions.
//
// Input: byte 0 selects settings, byte 1 the number of operation bytes that follow; the rest
// is the source text.
#include <string>

#include "fuzz_target.h"
#include "script/front/fs_iparser.h"
#include "script/runtime/fs_errors.h"

namespace {

void Configure(pt::TfsParser& p, uint8_t cfg) {
    static const char* const kHex[] = {"$", "0x", "&H", ""};
    p.ResetSettings();
    if (cfg & 1) p.ApplySetting("specstrchar", "1");
    if (cfg & 2) p.ApplySetting("skipeol", "0");
    if (cfg & 4) p.ApplySetting("casesensitive", "1");
    if (cfg & 8) p.ApplySetting("skipchar", "_");
    if (cfg & 16) {
        p.ApplySetting("commentline1", "'");
        p.ApplySetting("commentline2", "rem");
        p.ApplySetting("commentblock1", "");
        p.ApplySetting("commentblock2", "/*,*/");
    }
    p.ApplySetting("hexsequence", kHex[(cfg >> 5) & 3]);
    if (cfg & 128) p.ApplySetting("stringquotes", "\"");
    for (const char* k : {"begin", "end", "if", "IF", "rem", "var"}) p.AddKeyword(k);
}

void CheckPosition(const pt::TfsParser& p) {
    PT_FUZZ_CHECK(p.Position() >= 1 && p.Position() <= p.Size() + 1);
    int line = 0, column = 0;
    p.LineAndColumn(p.Position(), line, column);
    PT_FUZZ_CHECK(column >= 1);
    PT_FUZZ_CHECK(p.OffsetOf(column, line) == p.Position());
    PT_FUZZ_CHECK(p.PositionText() == std::to_string(line) + ":" + std::to_string(column));
}

// Runs one reader; returns the token (empty when nothing was read).
std::string RunOp(pt::TfsParser& p, int op) {
    const int before = p.Position();
    std::string t;
    switch (op) {
    case 0:
        p.SkipBlanks();
        break;
    case 1:
        p.ReadLineEnd();
        break;
    case 2:
        t = p.ReadWord();
        break;
    case 3:
        t = p.ReadIdentifier();
        break;
    case 4:
        t = p.ReadPunctuation();
        PT_FUZZ_CHECK(t.empty() ? p.Position() == before : p.Position() == before + 1);
        break;
    case 5:
        t = p.ReadNumber();
        PT_FUZZ_CHECK(t.empty() || t[0] == '$' || (t[0] >= '0' && t[0] <= '9'));
        break;
    case 6:
        t = p.ReadString();
        PT_FUZZ_CHECK(t.empty() || (t.size() >= 2 && t.front() == '\'' && t.back() == '\''));
        break;
    default:
        t = p.ReadBracketed();
        break;
    }
    if (!t.empty() && op != 7) PT_FUZZ_CHECK(p.Position() > before);
    if (op == 3 && !t.empty()) PT_FUZZ_CHECK(!p.IsKeyword(t));
    CheckPosition(p);
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t cfg = data[0];
    const size_t nOps = std::min<size_t>(data[1], size - 2);
    const uint8_t* ops = data + 2;
    const std::string_view text(reinterpret_cast<const char*>(data + 2 + nOps), size - 2 - nOps);

    pt::TfsParser p;
    Configure(p, cfg);
    p.SetText(text);
    try {
        for (size_t i = 0; i < nOps; ++i) {
            uint8_t b = ops[i];
            if ((b & 15) >= 8) {
                // Jump: the high bits pick a place in the text.
                p.SetPosition(static_cast<int>(1 + (b >> 4) * (p.Size() + 1) / 15));
                CheckPosition(p);
            } else {
                RunOp(p, b & 7);
            }
        }
    } catch (const pt::EScriptError& e) {
        PT_FUZZ_CHECK(e.className() == pt::kEConvertError);
    }

    // Tokenise the whole text as a grammar would: try each reader, else step over one byte.
    p.SetPosition(1);
    try {
        while (p.Position() <= p.Size()) {
            int before = p.Position();
            bool read = !RunOp(p, 5).empty() || !RunOp(p, 6).empty() || !RunOp(p, 2).empty();
            if (!read) {
                p.SkipBlanks();
                if (RunOp(p, 4).empty() && !p.ReadLineEnd() && p.Position() == before)
                    p.SetPosition(before + 1);
            }
            PT_FUZZ_CHECK(p.Position() > before || p.Position() == p.Size() + 1);
        }
    } catch (const pt::EScriptError& e) {
        PT_FUZZ_CHECK(e.className() == pt::kEConvertError);
    }
    return 0;
}
