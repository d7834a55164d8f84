#include "Console.h"

#include <cerrno>
#include <unistd.h>

namespace pt::host {

Console& Console::err() {
    static Console c;
    return c;
}

void Console::writeRaw(std::string_view s) {
    while (!s.empty()) {
        ssize_t w = ::write(2, s.data(), s.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return; // standard error is gone: nothing sensible is left to do
        s.remove_prefix(static_cast<size_t>(w));
    }
}

void Console::line(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    std::lock_guard<std::mutex> lock(mu_);
    if (barShown_) out.append("\r\033[K");
    out.append(text);
    out.push_back('\n');
    barShown_ = false;
    writeRaw(out);
}

void Console::progress(std::string_view text) {
    std::string out = "\r\033[K";
    out.append(text);
    std::lock_guard<std::mutex> lock(mu_);
    barShown_ = true;
    writeRaw(out);
}

void Console::endProgress() {
    std::lock_guard<std::mutex> lock(mu_);
    if (barShown_) writeRaw("\r\033[K");
    barShown_ = false;
}

} // namespace pt::host
