#include "platform/Files.h"

#include "platform/FileLock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <pwd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qv {

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool IsSymbolicLink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool DirectoryWritable(const std::string& dir) {
    return access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) == 0;
}

bool FileWritableOrAbsent(const std::string& path) {
    if (access(path.c_str(), W_OK) == 0) return true;
    return errno == ENOENT;
}

bool ReadWholeFile(const std::string& path, std::string* text, bool* exists) {
    *exists = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    *exists = true;
    text->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        text->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

static bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string ParentDirectory(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LexicallyNormal(const std::string& path) {
    if (path.empty()) return path;
    const bool absolute = path.front() == '/';
    std::vector<std::string> parts;
    bool trailing = false;  // the normal form ends in "/" ("a/", "a/.", "a/b/..")
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty()) {
            trailing = trailing || (end == path.size() && !parts.empty() && parts.back() != "..");
        } else if (part == ".") {
            trailing = true;
        } else if (part != "..") {
            parts.push_back(part);
            trailing = false;
        } else if (!parts.empty() && parts.back() != "..") {
            parts.pop_back();
            trailing = true;
        } else if (!absolute) {
            parts.push_back(part);  // a relative path keeps its leading ".."
            trailing = false;
        }
    }
    std::string normal = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) normal += (i ? "/" : "") + parts[i];
    if (trailing && !parts.empty() && parts.back() != "..") normal += '/';
    return normal.empty() ? "." : normal;
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return home;
    const passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

namespace {

// Root creating a file in a user's directory (sudo, an autostart entry run as root) must not
// lock the user out of it: the file goes to the directory's owner and group.
void GiveToDirectoryOwner(int fd, const std::string& path) {
    if (geteuid() != 0) return;
    struct stat dir {};
    if (stat(ParentDirectory(path).c_str(), &dir) != 0 || dir.st_uid == 0) return;
    [[maybe_unused]] int rc = fchown(fd, dir.st_uid, dir.st_gid);
}

}  // namespace

bool MakeDirectory(const std::string& dir, unsigned mode) {
    if (mkdir(dir.c_str(), static_cast<mode_t>(mode)) != 0) return false;
    // Through a descriptor: the user may replace the new directory by a link meanwhile.
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        GiveToDirectoryOwner(fd, dir);
        close(fd);
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& data, unsigned new_mode,
                           unsigned drop_bits) {
    std::string tmp = path + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    struct stat old {};
    const bool existed = stat(path.c_str(), &old) == 0;
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    mode_t mode = static_cast<mode_t>(new_mode);
    if (existed) {
        // The owner first (only root may give a file away; for others this keeps their own),
        // then the mode, which a change of owner may have cut.
        [[maybe_unused]] int rc = fchown(fd, old.st_uid, old.st_gid);
        mode = (old.st_mode & 07777) & ~static_cast<mode_t>(drop_bits);
    } else {
        GiveToDirectoryOwner(fd, path);
    }
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data) && fsync(fd) == 0 &&
              LockReplacement(path, fd);  // a file this process holds stays held
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(name.data(), path.c_str()) == 0;
    const int reason = errno;  // the failed step's, for the caller's message
    ReplacementCommitted(path, ok);
    if (!ok) {
        unlink(name.data());
        errno = reason;
    }
    return ok;
}

bool AppendToFile(const std::string& path, const std::string& data, unsigned new_mode) {
    // Root may run a user's copy: a link planted beside it must not send root's lines elsewhere.
    constexpr int kAppend = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(path.c_str(), kAppend);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), kAppend | O_CREAT | O_EXCL, static_cast<mode_t>(new_mode));
        if (fd >= 0)
            GiveToDirectoryOwner(fd, path);
        else if (errno == EEXIST)  // another copy created it first
            fd = open(path.c_str(), kAppend);
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data);
    return close(fd) == 0 && ok;
}

}  // namespace qv
