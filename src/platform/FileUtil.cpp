#include "platform/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace pt {

namespace {

// Read from /proc: changing the mask to learn it would race with other threads.
mode_t CurrentUmask() {
    std::string status;
    if (ReadWholeFile("/proc/self/status", status) == 0) {
        size_t at = status.find("Umask:");
        if (at != std::string::npos)
            return static_cast<mode_t>(strtoul(status.c_str() + at + 6, nullptr, 8));
    }
    return 022;
}

int WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// A file that may be written in a folder that may not: rewritten in place (not atomic, but
// better than not saving at all).
int WriteInPlace(const std::string& target, const std::string& data) {
    int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = WriteAll(fd, data);
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    return err;
}

} // namespace

bool FileExists(const std::string& path) noexcept {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsDirectory(const std::string& path) noexcept {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path) noexcept {
    if (path.empty()) return false;
    if (IsDirectory(path)) return true;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!MakeDirectories(path.substr(0, slash))) return false;
    }
    return mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(path));
}

int ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return EISDIR;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            close(fd);
            return err;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return 0;
}

int WriteFileAtomic(const std::string& path, const std::string& data) {
    std::string target = path;
    char resolved[PATH_MAX];
    struct stat lst;
    if (lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) && realpath(path.c_str(), resolved))
        target = resolved;
    std::string tmp = target + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return (errno == EACCES || errno == EPERM) ? WriteInPlace(target, data) : errno;
    struct stat st;
    mode_t mode = 0666 & ~CurrentUmask();
    if (stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    fchmod(fd, mode);
    int err = WriteAll(fd, data);
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err) unlink(tmp.c_str());
    return err;
}

} // namespace pt
