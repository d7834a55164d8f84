#include "platform/IniFiles.h"

#include <cerrno>
#include <cstring>

#include "common/Classes.h" // IsSameText
#include "platform/FileUtil.h"

namespace pt {

namespace {

bool IsBlank(char c) noexcept {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The key of an entry line; nullopt for a line without "=".
std::optional<std::string_view> KeyOf(std::string_view line) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(0, eq));
}

} // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
    std::string text;
    int err = ReadWholeFile(path_, text);
    if (err == ENOENT) return;
    if (err)
        throw EIniFileException("Cannot read the INI file " + path_ + ": " + std::strerror(err));
    SetText(text);
}

void TIniFile::SetText(std::string_view text) {
    preamble_.clear();
    sections_.clear();
    // The mark counts also after leading empty lines, which are dropped anyway; so the text
    // written back reads the same.
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) ++first;
    bom_ = text.substr(first).starts_with("\xEF\xBB\xBF");
    std::string stripped;
    if (bom_) {
        stripped = std::string(text.substr(0, first)) + std::string(text.substr(first + 3));
        text = stripped;
    }
    Section* current = nullptr;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find_first_of("\r\n", i);
        if (j == std::string_view::npos) j = text.size();
        std::string_view line = text.substr(i, j - i);
        i = j + ((j + 1 < text.size() && text[j] == '\r' && text[j + 1] == '\n') ? 2 : 1);
        std::string_view t = Trim(line);
        if (t.empty()) continue;
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections_.push_back(Section{std::string(t.substr(1, t.size() - 2)), {}});
            current = &sections_.back();
        } else if (current) {
            current->lines.emplace_back(line);
        } else {
            preamble_.emplace_back(line);
        }
    }
    modified_ = false;
}

std::string TIniFile::Text() const {
    std::string out;
    if (bom_) out = "\xEF\xBB\xBF";
    if (!preamble_.empty()) {
        for (const auto& l : preamble_) out += l + "\r\n";
        out += "\r\n";
    }
    for (const Section& s : sections_) {
        if (s.lines.empty()) continue;
        out += "[" + s.name + "]\r\n";
        for (const auto& l : s.lines) out += l + "\r\n";
        out += "\r\n";
    }
    return out;
}

TIniFile::Section* TIniFile::Find(std::string_view name) {
    for (Section& s : sections_)
        if (IsSameText(s.name, name)) return &s;
    return nullptr;
}

const TIniFile::Section* TIniFile::Find(std::string_view name) const {
    return const_cast<TIniFile*>(this)->Find(name);
}

bool TIniFile::SectionExists(std::string_view section) const {
    return Find(section) != nullptr;
}

std::optional<std::string> TIniFile::ReadValue(std::string_view section,
                                               std::string_view key) const {
    const Section* s = Find(section);
    if (!s) return std::nullopt;
    for (const std::string& line : s->lines) {
        auto k = KeyOf(line);
        if (k && IsSameText(*k, key))
            return std::string(Trim(std::string_view(line).substr(line.find('=') + 1)));
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
    auto v = ReadValue(section, key);
    return v ? *v : std::string(def);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // A line break, or an "=" in the key, would make the line read back as something else.
    auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != s.npos; };
    if (breaks(section) || breaks(key) || breaks(value) || key.find('=') != key.npos ||
        Trim(key).size() != key.size())
        throw EIniFileException("Invalid INI entry: " + std::string(key));
    std::string line = std::string(key) + "=" + std::string(value);
    Section* s = Find(section);
    if (!s) {
        sections_.push_back(Section{std::string(section), {}});
        s = &sections_.back();
    }
    for (std::string& l : s->lines) {
        auto k = KeyOf(l);
        if (k && IsSameText(*k, key)) {
            if (l != line) {
                l = std::move(line);
                modified_ = true;
            }
            return;
        }
    }
    s->lines.push_back(std::move(line));
    modified_ = true;
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key) {
    Section* s = Find(section);
    if (!s) return false;
    for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
        auto k = KeyOf(*it);
        if (k && IsSameText(*k, key)) {
            s->lines.erase(it);
            modified_ = true;
            return true;
        }
    }
    return false;
}

int TIniFile::UpdateFile() {
    if (!modified_) return 0;
    int err = WriteFileAtomic(path_, Text());
    if (!err) modified_ = false;
    return err;
}

} // namespace pt
