#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace qv
