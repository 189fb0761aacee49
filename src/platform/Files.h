#pragma once
// Small file-system questions the window asks at start-up.
#include <string>

namespace qv {

bool FileExists(const std::string& path);
// True when the process may create files in the directory.
bool DirectoryWritable(const std::string& dir);
// True when the file may be written (or does not exist).
bool FileWritableOrAbsent(const std::string& path);

}  // namespace qv
