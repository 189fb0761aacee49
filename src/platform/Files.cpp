#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qv {

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
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

bool ReplaceFileAtomically(const std::string& path, const std::string& data, unsigned mode) {
    std::string tmp = path + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    bool ok = fchmod(fd, static_cast<mode_t>(mode)) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(name.data(), path.c_str()) == 0;
    if (!ok) unlink(name.data());
    return ok;
}

}  // namespace qv
