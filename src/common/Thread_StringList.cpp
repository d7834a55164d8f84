#include "common/Thread_StringList.h"

namespace pt {

std::string TThreadStringList::JoinCrLf(const Lines& lines) {
    size_t n = 0;
    for (const auto& l : lines) n += l.size() + 2;
    std::string out;
    out.reserve(n);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

TThreadStringList::Lines TThreadStringList::SplitCrLf(const std::string& text) {
    Lines out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

} // namespace pt
