#include "CompileTools.h"

#include "Console.h"
#include "PluginHost.h"
#include "ScriptConfig.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

#if __has_include("script/front/fs_iilparser.h")
#include "script/front/fs_iilparser.h"
#define PT_HOST_HAVE_FRONT_END 1
#else
#define PT_HOST_HAVE_FRONT_END 0
#endif

namespace pt::host {

bool haveFrontEnd() {
    return PT_HOST_HAVE_FRONT_END != 0;
}

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

#if PT_HOST_HAVE_FRONT_END
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
#endif

int checkScript(const std::string& path, const std::string& text, int language,
                const std::string& pluginPath) {
#if PT_HOST_HAVE_FRONT_END
    if (!parse(path, text, language, nullptr)) return 1;
#endif
    PluginLibrary lib(pluginPath.empty() ? PluginLibrary::defaultPath() : pluginPath);
    TempFile ini("pipetask-check", ".ini", scriptIniText(text, language, ""));
    std::vector<std::string> errors;
    std::mutex mu;
    int r;
    {
        PluginSession session(
            lib, [](const void*, size_t) { return false; },
            [&](const std::string& line) {
                std::lock_guard<std::mutex> lock(mu);
                if (line.rfind("error: ", 0) == 0) errors.push_back(line.substr(7));
            },
            [](const std::string&) {});
        PluginSession::LoadOptions o;
        o.iniFile = ini.path();
        r = session.load(o);
        if (r != 0) throw IoError("the plug-in refused LOAD (result " + std::to_string(r) + ")");
        r = session.compile();
        session.close();
    }
    if (r == -4) {
        std::string msg = errors.empty() ? "the script does not compile" : errors.front();
        const std::string title = "Pipetask. ";
        if (msg.rfind(title, 0) == 0) msg.erase(0, title.size());
        Console::err().line(path + ": " + msg);
        return 1;
    }
    writeOut("Compiled OK\n");
    return 0;
}

int printIntermediate(const std::string& path, const std::string& text, int language) {
#if PT_HOST_HAVE_FRONT_END
    std::string il;
    if (!parse(path, text, language, &il)) return 1;
    writeOut(il);
    return 0;
#else
    (void)path;
    (void)text;
    (void)language;
    throw IoError("this build has no script front end, so it cannot print the intermediate form");
#endif
}

} // namespace pt::host
