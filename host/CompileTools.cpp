#include "CompileTools.h"

#include "Console.h"
#include "ScriptConfig.h"
#include "Sources.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "processing/PluginDM.h"
#include "script/front/fs_iilparser.h"
#include "script/runtime/fs_iinterpreter.h"

namespace pt::host {

static void writeOut(const std::string& s) {
    const char* p = s.data();
    size_t n = s.size();
    while (n) {
        ssize_t w = ::write(1, p, n);
        if (w <= 0) throw IoError("cannot write standard output");
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// Runs the front end; on a syntax error prints it with its position and answers false.
static bool parse(const std::string& path, const std::string& text, int language,
                  std::string* ilOut) {
    TfsILOwnerData owner;
    owner.includePath.clear();
    owner.includePath.push_back(std::filesystem::path(path).parent_path().string());
    TfsILParser parser(owner);
    parser.SelectLanguage(kLanguages[language]);
    if (!parser.MakeIL(JoinLines(SplitLines(text)))) {
        std::string where = owner.errorUnitName.empty() ? path : owner.errorUnitName;
        Console::err().line(where + ":" + owner.errorLocation + ": " + owner.errorText);
        return false;
    }
    if (ilOut) {
        parser.ILDocument().Indented = true;
        *ilOut = parser.ILDocument().SaveToString();
        std::erase(*ilOut, '\r');
    }
    return true;
}

int checkScript(const std::string& path, const std::string& text, int language) {
    TfsScript script;
    script.Parent = GlobalUnit();
    TfsHelperCallEvent never = [](TObject*, TfsClassRef, std::string_view, TfsCallFrame&) {
        return Variant(); // only compiled here, never run
    };
    // The plug-in's own prototypes, so that a script compiles here exactly as in `run`.
    for (std::string_view proto : HostFunctionPrototypes) script.DeclareMethod(proto, never);
    script.SyntaxType = kLanguages[language];
    script.IncludePath = {std::filesystem::path(path).parent_path().string()};
    script.Lines = SplitLines(text);
    bool compiled;
    try {
        compiled = script.Compile();
    } catch (const std::exception& e) { // a language the build does not carry
        Console::err().line(path + ": " + e.what());
        return 1;
    }
    if (!compiled) {
        std::string where = script.ErrorUnitName.empty() ? path : script.ErrorUnitName;
        if (!script.ErrorLocation.empty()) where += ":" + script.ErrorLocation;
        Console::err().line(where + ": " + script.ErrorText);
        return 1;
    }
    writeOut("Compiled OK\n");
    return 0;
}

int printIntermediate(const std::string& path, const std::string& text, int language) {
    std::string il;
    if (!parse(path, text, language, &il)) return 1;
    writeOut(il);
    return 0;
}

} // namespace pt::host
