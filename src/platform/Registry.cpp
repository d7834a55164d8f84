#include "platform/Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/Classes.h" // IsSameText
#include "platform/FileUtil.h"

namespace pt {

namespace {

constexpr const char* kValuesFile = ".values";

std::string EnvOr(const char* name, std::string fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::move(fallback);
}

std::string EncodeKeyName(std::string_view name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '%' || c == 0 || (i == 0 && c == '.')) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodeKeyName(std::string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        int h, l;
        if (name[i] == '%' && i + 2 < name.size() && (h = HexDigit(name[i + 1])) >= 0 &&
            (l = HexDigit(name[i + 2])) >= 0) {
            out += static_cast<char>(h * 16 + l);
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::vector<std::string> SplitKeyPath(std::string_view key) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= key.size()) {
        size_t j = key.find('\\', i);
        if (j == std::string_view::npos) j = key.size();
        if (j > i) parts.emplace_back(key.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

// Child folder of `parent` that stands for key `name`; empty when there is none.
std::string FindChildKey(const std::string& parent, std::string_view name) {
    std::string exact = parent + "/" + EncodeKeyName(name);
    if (IsDirectory(exact)) return exact;
    DIR* d = opendir(parent.c_str());
    if (!d) return {};
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (IsSameText(DecodeKeyName(e->d_name), name)) {
            std::string p = parent + "/" + e->d_name;
            if (IsDirectory(p)) {
                found = p;
                break;
            }
        }
    }
    closedir(d);
    return found;
}

// ---- the key file -------------------------------------------------------------------------

struct Line {
    bool parsed = false;
    std::string raw; // kept for lines that do not parse
    std::string name;
    TRegistry::Value value;
};

void AppendQuoted(std::string& out, std::string_view s) {
    static const char* hex = "0123456789abcdef";
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 32 || c == 127) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

// Reads a quoted text at s[i] (which is '"'); advances i past the closing quote.
bool ParseQuoted(std::string_view s, size_t& i, std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    while (i < s.size()) {
        char c = s[i++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) return false;
        char e = s[i++];
        switch (e) {
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            int h, l;
            if (i + 1 >= s.size() || (h = HexDigit(s[i])) < 0 || (l = HexDigit(s[i + 1])) < 0)
                return false;
            out += static_cast<char>(h * 16 + l);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view s, std::string& out) {
    size_t i = 0;
    while (i < s.size()) {
        int h, l;
        if (i + 1 >= s.size() || (h = HexDigit(s[i])) < 0 || (l = HexDigit(s[i + 1])) < 0)
            return false;
        out += static_cast<char>(h * 16 + l);
        i += 2;
        if (i < s.size()) {
            if (s[i] != ',') return false;
            ++i;
        }
    }
    return true;
}

bool ParseLine(std::string_view s, Line& line) {
    size_t i = 0;
    if (s.empty()) return false;
    if (s[0] == '@') {
        i = 1;
    } else if (!ParseQuoted(s, i, line.name)) {
        return false;
    }
    if (i >= s.size() || s[i] != '=') return false;
    std::string_view rest = s.substr(i + 1);
    if (rest.starts_with("dword:")) {
        std::string_view h = rest.substr(6);
        if (h.size() != 8) return false;
        uint32_t v = 0;
        for (char c : h) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        line.value.type = REG_DWORD;
        for (int b = 0; b < 4; ++b) line.value.data += static_cast<char>((v >> (8 * b)) & 0xff);
        return true;
    }
    if (rest.starts_with("sz:")) {
        size_t j = 3;
        line.value.type = REG_SZ;
        return ParseQuoted(rest, j, line.value.data) && j == rest.size();
    }
    if (rest.starts_with("hex:")) {
        line.value.type = REG_BINARY;
        return ParseHexBytes(rest.substr(4), line.value.data);
    }
    if (rest.starts_with("hex(")) {
        size_t close = rest.find("):");
        if (close == std::string_view::npos || close <= 4) return false;
        uint32_t t = 0;
        for (char c : rest.substr(4, close - 4)) {
            int d = HexDigit(c);
            if (d < 0 || t > 0x0fffffff) return false;
            t = t * 16 + static_cast<uint32_t>(d);
        }
        line.value.type = t;
        return ParseHexBytes(rest.substr(close + 2), line.value.data);
    }
    return false;
}

std::string FormatLine(const Line& line) {
    if (!line.parsed) return line.raw;
    static const char* hex = "0123456789abcdef";
    std::string out;
    if (line.name.empty())
        out = "@";
    else
        AppendQuoted(out, line.name);
    out += '=';
    const auto& v = line.value;
    auto bytes = [&] {
        for (size_t i = 0; i < v.data.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(v.data[i]);
            if (i) out += ',';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    };
    if (v.type == REG_DWORD && v.data.size() == 4) {
        uint32_t x = 0;
        for (int b = 3; b >= 0; --b) x = x * 256 + static_cast<unsigned char>(v.data[b]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", x);
        out += buf;
    } else if (v.type == REG_SZ && v.data.find('\0') == std::string::npos) {
        out += "sz:";
        AppendQuoted(out, v.data);
    } else if (v.type == REG_BINARY) {
        out += "hex:";
        bytes();
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        out += buf;
        bytes();
    }
    return out;
}

std::vector<Line> ReadKeyFile(const std::string& folder) {
    std::string text;
    int err = ReadWholeFile(folder + "/" + kValuesFile, text);
    if (err == ENOENT) return {};
    if (err) throw ERegistryException("Failed to read registry key: " + std::string(strerror(err)));
    std::vector<Line> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find('\n', i);
        if (j == std::string::npos) j = text.size();
        std::string_view s(text.data() + i, j - i);
        if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
        i = j + 1;
        if (s.empty()) continue;
        Line line;
        line.parsed = ParseLine(s, line);
        if (!line.parsed) {
            line = Line{};
            line.raw = std::string(s);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

const Line* FindLine(const std::vector<Line>& lines, std::string_view name) {
    for (const Line& l : lines)
        if (l.parsed && IsSameText(l.name, name)) return &l;
    return nullptr;
}

bool ModeAllowsWrite(const struct stat& st) {
    uid_t uid = geteuid();
    if (st.st_uid == uid) return st.st_mode & S_IWUSR;
    if (st.st_gid == getegid()) return st.st_mode & S_IWGRP;
    gid_t groups[256];
    int n = getgroups(256, groups);
    for (int k = 0; k < n; ++k)
        if (groups[k] == st.st_gid) return st.st_mode & S_IWGRP;
    return st.st_mode & S_IWOTH;
}

// Writable by its permission bits (root included) and by the kernel's own check.
bool FolderWritable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return ModeAllowsWrite(st) && access(path.c_str(), W_OK | X_OK) == 0;
}

// Runs `change` on the key's lines and writes them back, under an flock of the key folder.
template <class F> void ModifyKeyFile(const std::string& folder, std::string_view name, F change) {
    int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
    while (flock(dfd, LOCK_EX) != 0 && errno == EINTR) {
    }
    try {
        std::vector<Line> lines = ReadKeyFile(folder);
        if (change(lines)) {
            std::string text;
            for (const Line& l : lines) {
                text += FormatLine(l);
                text += '\n';
            }
            if (WriteFileAtomic(folder + "/" + kValuesFile, text) != 0)
                throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
        }
    } catch (...) {
        close(dfd);
        throw;
    }
    close(dfd);
}

} // namespace

std::string RegistryRootFolder(TRegRootKey root) {
    switch (root) {
    case TRegRootKey::HKEY_CURRENT_USER: {
        std::string base = EnvOr("XDG_CONFIG_HOME", EnvOr("HOME", "/tmp") + "/.config");
        return EnvOr("PIPETASK_REGISTRY_HKCU", base + "/pipetask/registry/HKCU");
    }
    case TRegRootKey::HKEY_LOCAL_MACHINE:
        return EnvOr("PIPETASK_REGISTRY_HKLM", "/etc/pipetask/registry/HKLM");
    case TRegRootKey::HKEY_CLASSES_ROOT:
        return EnvOr("PIPETASK_REGISTRY_HKCR", "/etc/pipetask/registry/HKCR");
    case TRegRootKey::HKEY_USERS:
        return EnvOr("PIPETASK_REGISTRY_HKU", "/etc/pipetask/registry/HKU");
    case TRegRootKey::HKEY_CURRENT_CONFIG:
        return EnvOr("PIPETASK_REGISTRY_HKCC", "/etc/pipetask/registry/HKCC");
    }
    return {};
}

std::string TRegistry::KeyFolder(std::string_view key, bool create, bool* ok) const {
    *ok = false;
    std::string folder = RegistryRootFolder(root_);
    if (!IsDirectory(folder) && !(create && MakeDirectories(folder))) return {};
    if (!FolderWritable(folder)) return {};
    for (const std::string& part : SplitKeyPath(key)) {
        std::string child = FindChildKey(folder, part);
        if (child.empty()) {
            if (!create) return {};
            child = folder + "/" + EncodeKeyName(part);
            if (mkdir(child.c_str(), 0777) != 0 && errno != EEXIST) return {};
        }
        folder = std::move(child);
    }
    if (!FolderWritable(folder)) return {};
    *ok = true;
    return folder;
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate) {
    bool ok = false;
    std::string folder = KeyFolder(key, canCreate, &ok);
    if (!ok) return false;
    folder_ = std::move(folder);
    return true;
}

bool TRegistry::KeyExists(std::string_view key) const {
    std::string folder = RegistryRootFolder(root_);
    if (!IsDirectory(folder)) return false;
    for (const std::string& part : SplitKeyPath(key)) {
        folder = FindChildKey(folder, part);
        if (folder.empty()) return false;
    }
    return true;
}

std::optional<TRegistry::Value> TRegistry::ReadValue(std::string_view name) const {
    if (folder_.empty()) return std::nullopt;
    std::vector<Line> lines = ReadKeyFile(folder_);
    const Line* l = FindLine(lines, name);
    if (!l) return std::nullopt;
    return l->value;
}

bool TRegistry::ValueExists(std::string_view name) const {
    return ReadValue(name).has_value();
}

std::vector<std::string> TRegistry::GetValueNames() const {
    std::vector<std::string> names;
    if (folder_.empty()) return names;
    for (const Line& l : ReadKeyFile(folder_))
        if (l.parsed) names.push_back(l.name);
    return names;
}

std::vector<std::string> TRegistry::GetKeyNames() const {
    std::vector<std::string> names;
    if (folder_.empty()) return names;
    DIR* d = opendir(folder_.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (IsDirectory(folder_ + "/" + e->d_name)) names.push_back(DecodeKeyName(e->d_name));
    }
    closedir(d);
    return names;
}

namespace {
[[noreturn]] void InvalidType(std::string_view name) {
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
}
TRegistry::Value Require(const std::optional<TRegistry::Value>& v, std::string_view name) {
    if (!v) throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
    return *v;
}
} // namespace

int32_t TRegistry::ReadInteger(std::string_view name) const {
    Value v = Require(ReadValue(name), name);
    if (v.type != REG_DWORD || v.data.size() != 4) InvalidType(name);
    uint32_t x = 0;
    for (int b = 3; b >= 0; --b) x = x * 256 + static_cast<unsigned char>(v.data[b]);
    return static_cast<int32_t>(x);
}

double TRegistry::ReadFloat(std::string_view name) const {
    Value v = Require(ReadValue(name), name);
    if (v.type != REG_BINARY || v.data.size() != 8) InvalidType(name);
    uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = bits * 256 + static_cast<unsigned char>(v.data[b]);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string TRegistry::ReadString(std::string_view name) const {
    Value v = Require(ReadValue(name), name);
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) InvalidType(name);
    size_t nul = v.data.find('\0');
    if (nul != std::string::npos) v.data.resize(nul);
    return v.data;
}

void TRegistry::WriteValue(std::string_view name, const Value& value) {
    if (folder_.empty())
        throw ERegistryException("Failed to set data for '" + std::string(name) + "'");
    ModifyKeyFile(folder_, name, [&](std::vector<Line>& lines) {
        for (Line& l : lines)
            if (l.parsed && IsSameText(l.name, name)) {
                if (l.value.type == value.type && l.value.data == value.data) return false;
                l.value = value;
                return true;
            }
        Line l;
        l.parsed = true;
        l.name = std::string(name);
        l.value = value;
        lines.push_back(std::move(l));
        return true;
    });
}

void TRegistry::WriteInteger(std::string_view name, int32_t value) {
    Value v{REG_DWORD, {}};
    uint32_t x = static_cast<uint32_t>(value);
    for (int b = 0; b < 4; ++b) v.data += static_cast<char>((x >> (8 * b)) & 0xff);
    WriteValue(name, v);
}

void TRegistry::WriteFloat(std::string_view name, double value) {
    Value v{REG_BINARY, {}};
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int b = 0; b < 8; ++b) v.data += static_cast<char>((bits >> (8 * b)) & 0xff);
    WriteValue(name, v);
}

void TRegistry::WriteString(std::string_view name, std::string_view value) {
    WriteValue(name, Value{REG_SZ, std::string(value)});
}

bool TRegistry::DeleteValue(std::string_view name) {
    if (folder_.empty()) return false;
    bool deleted = false;
    ModifyKeyFile(folder_, name, [&](std::vector<Line>& lines) {
        for (auto it = lines.begin(); it != lines.end(); ++it)
            if (it->parsed && IsSameText(it->name, name)) {
                lines.erase(it);
                deleted = true;
                return true;
            }
        return false;
    });
    return deleted;
}

} // namespace pt
