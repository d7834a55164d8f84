// pt_il: prints the intermediate program that the front end makes of a script file.
//
//   pt_il [-l language] [-I folder]... file|-
//
// The language defaults by extension (.pas PascalScript, .cpp C++Script, .js JScript,
// .vb BasicScript); units are searched in the script's folder and then in each -I folder.
// On a syntax error the message goes to standard error as "file:line:column: text" (the unit
// file when the error is in a unit) and the exit code is 1; other failures exit with 2.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "script/front/fs_iilparser.h"

namespace {

int Usage() {
    std::cerr << "usage: pt_il [-l language] [-I folder]... file|-\n";
    return 2;
}

std::string LanguageOf(const std::string& file) {
    const std::string ext = std::filesystem::path(file).extension().string();
    if (ext == ".cpp") return "C++Script";
    if (ext == ".js") return "JScript";
    if (ext == ".vb") return "BasicScript";
    return "PascalScript";
}

} // namespace

int main(int argc, char** argv) {
    std::string language, file;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-l" || arg == "-I") && i + 1 < argc) {
            (arg == "-l" ? language : folders.emplace_back()) = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage();
        } else if (file.empty()) {
            file = arg;
        } else {
            return Usage();
        }
    }
    if (file.empty()) return Usage();
    if (language.empty()) language = LanguageOf(file);

    std::ostringstream source;
    if (file == "-") {
        source << std::cin.rdbuf();
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::cerr << "pt_il: cannot open " << file << ": " << std::strerror(errno) << "\n";
            return 2;
        }
        source << in.rdbuf();
    }

    pt::TfsILOwnerData owner;
    owner.includePath.clear();
    owner.includePath.push_back(file == "-" ? std::string()
                                            : std::filesystem::path(file).parent_path().string());
    owner.includePath.insert(owner.includePath.end(), folders.begin(), folders.end());
    try {
        pt::TfsILParser parser(owner);
        parser.SelectLanguage(language);
        if (!parser.MakeIL(pt::JoinLines(pt::SplitLines(source.str())))) {
            const std::string where = owner.errorUnitName.empty() ? file : owner.errorUnitName;
            std::cerr << where << ":" << owner.errorLocation << ": " << owner.errorText << "\n";
            return 1;
        }
        parser.ILDocument().Indented = true;
        std::string il = parser.ILDocument().SaveToString();
        std::erase(il, '\r');
        std::cout << il;
    } catch (const std::exception& e) {
        std::cerr << "pt_il: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
