// A list of text lines with its own lock, for lists that several threads append to and take
// from (the pending log lines of a module object).
#pragma once

#include <deque>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

namespace pt {

class TThreadStringList {
public:
    using Lines = std::deque<std::string>;

    // Runs f(lines) under the exclusive lock and answers its result. f must not call back
    // into this list.
    template <class F> auto Locked(F&& f) {
        std::unique_lock<std::shared_mutex> g(lock_);
        return std::forward<F>(f)(lines_);
    }
    size_t Count() const {
        std::shared_lock<std::shared_mutex> g(lock_);
        return lines_.size();
    }
    // Each line followed by CR LF.
    static std::string JoinCrLf(const Lines& lines);
    // The inverse of JoinCrLf (a last line without CR LF is kept too).
    static Lines SplitCrLf(const std::string& text);

private:
    mutable std::shared_mutex lock_;
    Lines lines_;
};

} // namespace pt
