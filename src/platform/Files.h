#pragma once
// Small file-system questions the window asks at start-up.
#include <string>

namespace qv {

bool FileExists(const std::string& path);
// True when the process may create files in the directory.
bool DirectoryWritable(const std::string& dir);
// True when the file may be written (or does not exist).
bool FileWritableOrAbsent(const std::string& path);

// Reads a whole regular file; a missing file is no error (exists false).
bool ReadWholeFile(const std::string& path, std::string* text, bool* exists);
// Replaces the file by data atomically: a temporary file in the same directory with `mode`,
// written and synced, then renamed over it; on any failure the old file stays as it was.
bool ReplaceFileAtomically(const std::string& path, const std::string& data, unsigned mode);

}  // namespace qv
