// The named inter-process lock: an flock on the file <runtime folder>/<name>, where the
// runtime folder is $XDG_RUNTIME_DIR, else /tmp (and /tmp when the lock file cannot be made
// in $XDG_RUNTIME_DIR). Threads of one process exclude each other too (each lock opens its
// own file description). The lock files stay in place: removing them would let two holders
// lock two different files of the same name.
#pragma once

#include <string>
#include <string_view>

namespace pt {

// The lock name of an INI file: the path in lower case with every character other than
// 0-9 and a-z replaced by "_". A name longer than 200 characters keeps its first 183 and
// ends with "_" and 16 hexadecimal digits of a hash of the whole name, so that it stays a
// valid file name.
std::string IniFileLockName(std::string_view path);

class TNamedLock {
public:
    // Takes the lock: tries up to `spins` times without waiting, then waits. When no lock
    // file can be opened anywhere, the lock is not held (Held() false) and nothing waits.
    explicit TNamedLock(std::string_view name, int spins = 4000);
    ~TNamedLock();
    TNamedLock(const TNamedLock&) = delete;
    TNamedLock& operator=(const TNamedLock&) = delete;

    bool Held() const noexcept { return fd_ >= 0; }
    const std::string& FilePath() const noexcept { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace pt
