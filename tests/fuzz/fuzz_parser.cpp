// Fuzz target for the grammar-driven parser with the PascalScript grammar: arbitrary bytes as
// a script. The first units named in a uses clause are the input itself (read once per name),
// so nested parsers and the shared unit list are exercised too.
//
// Checks: MakeIL succeeds exactly when no error is recorded; every position it reports is a
// line:column inside the text; the intermediate program has its root `program` with `types`
// last; and a second parse of the same text gives the same result (no state leaks from one
// MakeIL to the next).
#include <string>
#include <string_view>

#include "fuzz_target.h"
#include "script/front/fs_iilparser.h"
#include "script/runtime/fs_errors.h"

namespace {

struct Outcome {
    bool ok = false;
    std::string errorText, errorLocation, errorUnit, il;
};

bool IsPosition(const std::string& pos, int lines) {
    const size_t colon = pos.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == pos.size()) return false;
    int line = 0, column = 0;
    for (size_t i = 0; i < pos.size(); ++i) {
        if (i == colon) continue;
        if (pos[i] < '0' || pos[i] > '9') return false;
        int& n = i < colon ? line : column;
        if (n > 100000000) return false;
        n = n * 10 + (pos[i] - '0');
    }
    return line >= 1 && line <= lines + 1 && column >= 1;
}

// Every pos/pos1 of the tree, iteratively (the tree may be deep).
void CheckPositions(const pt::TfsXMLItem* root, int lines) {
    std::vector<const pt::TfsXMLItem*> stack{root};
    while (!stack.empty()) {
        const pt::TfsXMLItem* item = stack.back();
        stack.pop_back();
        // Units' elements carry positions in their own text; the input is its own unit here.
        for (const char* attr : {"pos", "pos1"}) {
            const std::string p = item->Prop(attr);
            if (!p.empty()) PT_FUZZ_CHECK(IsPosition(p, lines));
        }
        for (int i = 0; i < item->Count(); ++i) stack.push_back(item->Items(i));
    }
}

Outcome Parse(const std::string& text) {
    pt::TfsILOwnerData owner;
    // The first few units are the input itself, later ones empty: enough to reach nested
    // parsers without multiplying the cost of every input.
    int units = 0;
    owner.onGetUnit = [&text, &units](const std::string&) {
        return ++units <= 3 ? text : std::string();
    };
    pt::TfsILParser parser(owner);
    parser.SelectLanguage("PascalScript");
    Outcome o;
    o.ok = parser.MakeIL(text);
    o.errorText = owner.errorText;
    o.errorLocation = owner.errorLocation;
    o.errorUnit = owner.errorUnitName;
    if (o.ok) o.il = parser.ILDocument().SaveToString();
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    int lines = 1;
    for (char c : text) lines += c == '\n';

    Outcome first;
    try {
        first = Parse(text);
    } catch (const pt::EScriptError& e) {
        // Documented: a character code beyond 32 bits, and an unknown language named by a
        // "#language" directive.
        const std::string& m = e.message(); // may hold NUL bytes of the input
        PT_FUZZ_CHECK(e.className() == pt::kEConvertError ||
                      (m.starts_with("Language '") && m.ends_with("' not found")));
        return 0;
    }
    if (first.ok) {
        PT_FUZZ_CHECK(first.errorText.empty());
        pt::TfsXMLDocument doc;
        doc.LoadFromString(first.il);
        PT_FUZZ_CHECK(doc.Root()->Name == "program");
        PT_FUZZ_CHECK(doc.Root()->Count() >= 1);
        PT_FUZZ_CHECK(doc.Root()->Items(doc.Root()->Count() - 1)->Name == "types");
        CheckPositions(doc.Root(), lines);
    } else if (!first.errorText.empty()) {
        PT_FUZZ_CHECK(IsPosition(first.errorLocation, lines));
    }

    const Outcome second = Parse(text);
    PT_FUZZ_CHECK(second.ok == first.ok);
    PT_FUZZ_CHECK(second.errorText == first.errorText);
    PT_FUZZ_CHECK(second.errorLocation == first.errorLocation);
    PT_FUZZ_CHECK(second.errorUnit == first.errorUnit);
    PT_FUZZ_CHECK(second.il == first.il);
    return 0;
}
