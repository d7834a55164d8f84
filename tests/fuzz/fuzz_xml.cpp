// Fuzz target for the XML reader and writer. Any input either fails with "Invalid file
// format" or loads; a loaded tree written out (with and without indentation) reads back to the
// same tree. Attributes set on the loaded elements read back unchanged.
#include <string>
#include <utility>
#include <vector>

#include "fuzz_target.h"
#include "script/front/fs_xml.h"
#include "script/runtime/fs_errors.h"

namespace {

bool LoadOrReject(pt::TfsXMLDocument& doc, std::string_view text) {
    try {
        doc.LoadFromString(text);
        return true;
    } catch (const pt::EScriptError& e) {
        PT_FUZZ_CHECK(e.message() == "Invalid file format");
        return false;
    }
}

// Whether the writer can express the tree: an element whose name ends with "/" (read from a
// tag such as <b// x="1">) cannot be written with attributes, since the reader would take the
// "/" as the end of an empty element.
bool Writable(const pt::TfsXMLItem* root) {
    std::vector<const pt::TfsXMLItem*> stack{root};
    while (!stack.empty()) {
        const pt::TfsXMLItem* item = stack.back();
        stack.pop_back();
        if (!item->Name.empty() && item->Name.back() == '/' && !item->Text.empty()) return false;
        for (int i = 0; i < item->Count(); ++i) stack.push_back(item->Items(i));
    }
    return true;
}

// The tree as text. Blanks that a write and read may drop are left out: leading blanks of the
// attribute text (the writer's separating blank absorbs one), and trailing blanks of an element
// with children (the reader drops one from an opening tag).
std::string Shape(const pt::TfsXMLItem* root) {
    std::string out;
    std::vector<std::pair<const pt::TfsXMLItem*, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto& [item, next] = stack.back();
        if (next == 0) {
            std::string_view text = item->Text;
            while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
            if (item->Count() > 0)
                while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            out.append("<").append(item->Name).append("|").append(text).append(">");
        }
        if (next < item->Count()) {
            const pt::TfsXMLItem* child = item->Items(next++);
            stack.emplace_back(child, 0);
        } else {
            out += "</>";
            stack.pop_back();
        }
    }
    return out;
}

void ExerciseProps(pt::TfsXMLItem* item, std::string_view input, int depth = 0) {
    if (depth > 32) return;
    // Values free of "&" survive escaping whatever else they hold.
    std::string value;
    for (char c : input.substr(0, 24))
        if (c != '&') value += c;
    for (int i = 0; i < item->Count() && i < 8; ++i) {
        pt::TfsXMLItem* child = item->Items(i);
        try {
            child->Prop("text");
        } catch (const pt::EScriptError& e) {
            PT_FUZZ_CHECK(e.className() == pt::kEConvertError);
        }
        child->SetProp("pos", value);
        PT_FUZZ_CHECK(child->Prop("pos") == value);
        ExerciseProps(child, input.substr(std::min<size_t>(1, input.size())), depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        pt::UnescapeValue(input);
    } catch (const pt::EScriptError& e) {
        PT_FUZZ_CHECK(e.className() == pt::kEConvertError);
    }

    pt::TfsXMLDocument doc;
    if (!LoadOrReject(doc, input)) return 0;
    const std::string shape = Shape(doc.Root());
    const std::string flat = doc.SaveToString();
    doc.Indented = true;
    const std::string indented = doc.SaveToString();

    pt::TfsXMLDocument back;
    PT_FUZZ_CHECK(LoadOrReject(back, flat));
    const bool writable = Writable(doc.Root());
    PT_FUZZ_CHECK(!writable || Shape(back.Root()) == shape);
    PT_FUZZ_CHECK(LoadOrReject(back, indented));
    PT_FUZZ_CHECK(!writable || Shape(back.Root()) == shape);

    pt::TfsXMLItem copy;
    copy.CopyFrom(back.Root());
    ExerciseProps(&copy, input);
    return 0;
}
