// Runs one script file and checks it against the expectations written in its comments:
//
//   // expect: text                 the next line the script prints with Print
//   // expect error: 3:7: message    compiling fails with this position and message
//   // expect runtime error: text    executing ends with this uncaught error message
//   // runs: N                       the compiled script is executed N times
//
// Print(v) writes the loose string form of v as one line. The driver's scope declares the
// basic type names and the element helpers when the global unit does not have them yet.
#include "script/front/fs_iilparser.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_iexpression.h"
#include "script/runtime/fs_iinterpreter.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

struct Expectations {
    std::vector<std::string> output;
    std::string compileError;
    std::string runtimeError;
    int runs = 1;
};

Expectations ReadExpectations(const std::string& text) {
    Expectations e;
    std::istringstream in(text);
    std::string line;
    auto after = [&](const std::string& key, std::string& out) {
        size_t p = line.find(key);
        if (p == std::string::npos) return false;
        out = line.substr(p + key.size());
        while (!out.empty() && (out.back() == '\r' || out.back() == '\n')) out.pop_back();
        return true;
    };
    while (std::getline(in, line)) {
        std::string v;
        if (after("// expect error: ", v))
            e.compileError = Trim(v);
        else if (after("// expect runtime error: ", v))
            e.runtimeError = Trim(v);
        else if (after("// expect: ", v))
            e.output.push_back(v);
        else if (line.find("// expect:") != std::string::npos)
            e.output.push_back("");
        else if (after("// runs: ", v))
            e.runs = std::stoi(v);
    }
    return e;
}

void DeclareSystem(pt::TfsScript& s, std::vector<std::string>& out) {
    using namespace pt;
    for (const char* n : {"Byte", "Word", "Integer", "Longint", "Cardinal", "SmallInt", "ShortInt"})
        s.DeclareType(n, fvtInt);
    s.DeclareType("Int64", fvtInt64);
    s.DeclareType("Boolean", fvtBool);
    for (const char* n : {"Real", "Single", "Double", "Extended", "Currency", "TDateTime"})
        s.DeclareType(n, fvtFloat);
    s.DeclareType("Char", fvtChar);
    s.DeclareType("String", fvtString);
    s.DeclareType("Variant", fvtVariant);
    s.DeclareType("Pointer", fvtVariant);
    s.DeclareType("Array", fvtArray);
    s.DeclareType("Constructor", fvtConstructor);
    s.DeclareConst("True", "Boolean", Variant(true));
    s.DeclareConst("False", "Boolean", Variant(false));
    s.DeclareConst("Null", "Variant", Variant::Null());
    s.DeclareVariable("ExceptionClassName", "String", Variant(""));
    s.DeclareVariable("ExceptionMessage", "String", Variant(""));
    if (!s.Lookup("__StringHelper")) DeclareElementHelpers(s);
    s.DeclareMethod(
        "procedure Print(v: Variant)",
        TfsHelperCallEvent([&out](TObject*, TfsClassRef, std::string_view, TfsCallFrame& f) {
            out.push_back(f.Param(0).ToStrLoose());
            return Variant::Null();
        }));
    if (!s.Lookup("RaiseException"))
        s.DeclareMethod(
            "procedure RaiseException(msg: String)",
            TfsHelperCallEvent([](void*, TfsClassRef, std::string_view,
                                  TfsCallFrame& f) -> Variant { RaiseError(f.Param(0).ToStr()); }));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pt_script_test file\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot open " << argv[1] << "\n";
        return 2;
    }
    std::stringstream buf;
    buf << in.rdbuf();
    const std::string text = buf.str();
    const Expectations expected = ReadExpectations(text);

    std::vector<std::string> out;
    pt::TfsScript system;
    system.Parent = pt::GlobalUnit();
    DeclareSystem(system, out);
    pt::TfsScript script;
    script.Parent = &system;
    script.Lines = pt::SplitLines(text);

    bool ok = true;
    const bool compiled = script.Compile();
    const std::string error = script.ErrorLocation + ": " + script.ErrorText;
    if (!expected.compileError.empty()) {
        if (compiled || error != expected.compileError) {
            std::cerr << "expected compile error \"" << expected.compileError << "\", got "
                      << (compiled ? std::string("success") : "\"" + error + "\"") << "\n";
            return 1;
        }
        return 0;
    }
    if (!compiled) {
        std::cerr << "compile error: " << error << "\n";
        return 1;
    }
    std::string runtimeError;
    for (int run = 0; run < expected.runs && runtimeError.empty(); ++run) {
        try {
            script.Execute();
        } catch (const pt::EScriptError& e) {
            runtimeError = e.message();
        }
    }
    if (runtimeError != expected.runtimeError) {
        std::cerr << "expected runtime error \"" << expected.runtimeError << "\", got \""
                  << runtimeError << "\"\n";
        ok = false;
    }
    const size_t n = std::max(out.size(), expected.output.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string got = i < out.size() ? out[i] : "<nothing>";
        const std::string want = i < expected.output.size() ? expected.output[i] : "<nothing>";
        if (got != want) {
            std::cerr << "line " << i + 1 << ": expected \"" << want << "\", got \"" << got
                      << "\"\n";
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
