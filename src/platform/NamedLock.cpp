#include "platform/NamedLock.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace pt {

namespace {

int OpenLockFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        fchmod(fd, 0666); // other users of the same INI file must be able to share the lock
        return fd;
    }
    // An existing lock file of another user: a read-only descriptor locks as well.
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

} // namespace

std::string IniFileLockName(std::string_view path) {
    std::string name;
    name.reserve(path.size());
    for (char c : path) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        name += ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) ? c : '_';
    }
    if (name.size() > 200) {
        uint64_t h = 1469598103934665603ull; // FNV-1a
        for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
        char hex[18];
        std::snprintf(hex, sizeof hex, "_%016llx", static_cast<unsigned long long>(h));
        name = name.substr(0, 183) + hex;
    }
    return name;
}

TNamedLock::TNamedLock(std::string_view name, int spins) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folders[2] = {runtime && *runtime ? runtime : "/tmp", "/tmp"};
    for (const std::string& folder : folders) {
        path_ = folder + "/" + std::string(name);
        fd_ = OpenLockFile(path_);
        if (fd_ >= 0) break;
    }
    if (fd_ < 0) {
        path_.clear();
        return;
    }
    for (int i = 0; i < spins; ++i) {
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        sched_yield();
    }
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) { // a file system without flock: carry on unlocked
            close(fd_);
            fd_ = -1;
            return;
        }
    }
}

TNamedLock::~TNamedLock() {
    if (fd_ >= 0) {
        flock(fd_, LOCK_UN);
        close(fd_);
    }
}

} // namespace pt
