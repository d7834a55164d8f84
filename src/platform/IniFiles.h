// INI files, held whole in memory. The form:
// - a line that (blanks trimmed) begins with "[" and ends with "]" starts a section named by
//   the text between them; every other non-empty line belongs to the current section and is
//   written back unchanged (comments and lines without "=" too); empty lines are dropped;
// - an entry is key=value: the text before the first "=" and after it, blanks trimmed;
// - section names and keys match without regard to case (the first match counts);
// - writing replaces the entry's line in place (a change only when the line differs), a new
//   key is appended to its section, a new section to the end of the file;
// - the file is written as, for every section with at least one line, "[name]", its lines
//   and an empty line, every line ending with CR LF.
// Lines before the first section are kept and written first (they belong to no section and
// are never read as entries), and a UTF-8 byte-order mark is kept.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
public:
    // Reads the file; a missing file is an empty one. Raises EIniFileException when the file
    // exists but cannot be read.
    explicit TIniFile(std::string path);
    TIniFile() = default;

    const std::string& FileName() const noexcept { return path_; }
    void SetText(std::string_view text);
    std::string Text() const;

    bool SectionExists(std::string_view section) const;
    std::optional<std::string> ReadValue(std::string_view section, std::string_view key) const;
    bool ValueExists(std::string_view section, std::string_view key) const {
        return ReadValue(section, key).has_value();
    }
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Raises EIniFileException for a section, key or value holding a line break, and for a
    // key holding "=" or surrounding blanks: such an entry would not read back.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool DeleteKey(std::string_view section, std::string_view key);

    bool Modified() const noexcept { return modified_; }
    // Writes the file when it was modified; returns 0 or the errno of the failure.
    int UpdateFile();

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
    };
    Section* Find(std::string_view name);
    const Section* Find(std::string_view name) const;

    std::string path_;
    std::vector<std::string> preamble_;
    std::vector<Section> sections_;
    bool bom_ = false;
    bool modified_ = false;
};

} // namespace pt
