#include "ScriptConfig.h"

#include "Sources.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace pt::host {

std::optional<int> languageIndex(std::string_view name) {
    for (int i = 0; i < 4; ++i)
        if (name == kLanguages[i]) return i;
    return std::nullopt;
}

std::optional<int> languageOfFile(std::string_view path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return std::nullopt;
    std::string ext(path.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (ext == "pas") return 0;
    if (ext == "cpp") return 1;
    if (ext == "js") return 2;
    if (ext == "vb") return 3;
    return std::nullopt;
}

std::string encodeStoredText(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    size_t lead = 0, trail = text.size();
    while (lead < text.size() && text[lead] == ' ') ++lead;
    while (trail > lead && text[trail - 1] == ' ') --trail;
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ') {
            out.push_back(i < lead || i >= trail ? '+' : ' ');
        } else if (c == '%') {
            out.append("%%");
        } else if (c == '+' || (c >= 1 && c <= 31)) {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string stringListText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 64);
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view line =
            text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.append(line);
        out.append("\r\n");
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return out;
}

std::string scriptIniText(std::string_view scriptFileText, int language,
                          std::string_view sectionPrefix) {
    std::string section = sectionPrefix.empty() ? "Common" : std::string(sectionPrefix) + ".Common";
    // The settings store turns every "\" of a section name into ".".
    for (char& c : section)
        if (c == '\\') c = '.';
    std::string out = "[" + section + "]\r\n";
    out += "Script=" + encodeStoredText(stringListText(scriptFileText)) + "\r\n";
    out += "Language=" + std::to_string(language) + "\r\n\r\n";
    return out;
}

TempFile::TempFile(const std::string& stem, const std::string& suffix, std::string_view content) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || !*dir || access(dir, W_OK) != 0) dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    std::string templ = std::string(dir) + "/" + stem + "-XXXXXX" + suffix;
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        throw IoError("cannot create a file in " + std::string(dir) + ": " + std::strerror(errno));
    path_ = buf.data();
    const char* p = content.data();
    size_t n = content.size();
    while (n) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            int e = errno;
            close(fd);
            unlink(path_.c_str());
            throw IoError("cannot write " + path_ + ": " + std::strerror(e));
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    close(fd);
}

TempFile::~TempFile() {
    unlink(path_.c_str());
}

} // namespace pt::host
