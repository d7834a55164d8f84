// The configuration the host hands the plug-in for `run --script`: an INI file in the form
// the plug-in's settings store reads, holding the script text and the language index.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pt::host {

// The four script languages in the order of the stored language index.
inline constexpr const char* kLanguages[] = {"PascalScript", "C++Script", "JScript", "BasicScript"};

// Index of a language name (exact, as the plug-in names them), or nullopt.
std::optional<int> languageIndex(std::string_view name);
// Index of the language a script file's extension stands for (.pas, .cpp, .js, .vb).
std::optional<int> languageOfFile(std::string_view path);

// The stored form of a text: leading and trailing blanks as "+", "%" as "%%", "+" and the
// control characters 1-31 as "%" and two lower-case hex digits.
std::string encodeStoredText(std::string_view text);

// The text of a string list made from a file's text: every line, the last one included,
// followed by CR LF (line breaks in the file may be LF or CR LF).
std::string stringListText(std::string_view fileText);

// The INI file content: section "Common" (or "PREFIX.Common") with Script and Language.
std::string scriptIniText(std::string_view scriptFileText, int language,
                          std::string_view sectionPrefix);

// A private temporary file that is removed when this object goes away.
class TempFile {
public:
    // Creates the file in $XDG_RUNTIME_DIR (else $TMPDIR, else /tmp) with the given content.
    // Throws IoError.
    TempFile(const std::string& stem, const std::string& suffix, std::string_view content);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace pt::host
