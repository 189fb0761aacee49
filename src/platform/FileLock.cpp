#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace qv {

namespace {

// The held locks of this process: path -> descriptor (-1: wanted, the file not there yet).
struct HeldLocks {
    std::mutex mu;
    std::map<std::string, int> fds;
    std::map<std::string, int> pending;  // a replacement locked, not yet renamed
};

HeldLocks& Held() {
    static HeldLocks held;
    return held;
}

constexpr const char* kInUse = "in use by another process";

// Opens the file and locks it; -1 with the reason when either fails (*absent: no such file).
int OpenLocked(const std::string& path, std::string* why, bool* absent) {
    *absent = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *absent = errno == ENOENT;
        *why = std::strerror(errno);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *why = errno == EWOULDBLOCK ? kInUse : std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TFileLock::~TFileLock() {
    Release();
}

bool TFileLock::Acquire(const std::string& path, std::string* why) {
    Release();
    bool absent = false;
    const int fd = OpenLocked(path, why, &absent);
    // Only another holder refuses; a file that cannot be opened (yet) is held once written.
    if (fd < 0 && *why == kInUse) return false;
    std::lock_guard lock(Held().mu);
    path_ = path;
    Held().fds[path_] = fd;
    return true;
}

bool TFileLock::Reacquire(std::string* why) {
    if (path_.empty()) return false;
    std::lock_guard lock(Held().mu);
    int& held = Held().fds[path_];
    struct stat now {
    }, ours{};
    if (held >= 0 && stat(path_.c_str(), &now) == 0 && fstat(held, &ours) == 0 &&
        now.st_dev == ours.st_dev && now.st_ino == ours.st_ino)
        return true;  // still the file we hold
    bool absent = false;
    const int fd = OpenLocked(path_, why, &absent);
    if (fd < 0) return false;
    if (held >= 0) close(held);
    held = fd;
    return true;
}

void TFileLock::Release() {
    if (path_.empty()) return;
    std::lock_guard lock(Held().mu);
    auto it = Held().fds.find(path_);
    if (it != Held().fds.end()) {
        if (it->second >= 0) close(it->second);
        Held().fds.erase(it);
    }
    path_.clear();
}

bool LockReplacement(const std::string& path, int new_fd) {
    std::lock_guard lock(Held().mu);
    if (!Held().fds.count(path)) return true;
    const int fd = fcntl(new_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0) close(fd);
        return false;
    }
    Held().pending[path] = fd;
    return true;
}

void ReplacementCommitted(const std::string& path, bool renamed) {
    std::lock_guard lock(Held().mu);
    auto pending = Held().pending.find(path);
    if (pending == Held().pending.end()) return;
    int& held = Held().fds[path];
    if (renamed) {
        if (held >= 0) close(held);
        held = pending->second;
    } else {
        close(pending->second);
    }
    Held().pending.erase(pending);
}

}  // namespace qv
