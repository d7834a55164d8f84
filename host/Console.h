// Standard error as several threads share it: diagnostics, log lines of the plug-in and
// events from the message thread, and a progress bar that other lines must not tear.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace pt::host {

class Console {
public:
    // Writes one line (a line break is added); a shown progress bar is cleared first and
    // drawn again by the next progress() call.
    void line(std::string_view text);
    // Replaces the progress bar (no line break); only call when standard error is a terminal.
    void progress(std::string_view text);
    // Removes the progress bar for good.
    void endProgress();

    static Console& err();

private:
    void writeRaw(std::string_view s);
    std::mutex mu_;
    bool barShown_ = false;
};

} // namespace pt::host
