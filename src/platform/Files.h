#pragma once
// Small file-system questions the window asks at start-up.
#include <string>

namespace qv {

bool FileExists(const std::string& path);
// True when the path itself is a symbolic link (whatever it points at).
bool IsSymbolicLink(const std::string& path);
// True when the process may create files in the directory.
bool DirectoryWritable(const std::string& dir);
// True when the file may be written (or does not exist).
bool FileWritableOrAbsent(const std::string& path);

// Creates one directory; one that root creates in someone else's directory is given to that
// directory's owner, as files are. True when it was created.
bool MakeDirectory(const std::string& dir, unsigned mode);

// The directory part of a path: "." for a bare name, "/" for a file in the root.
std::string ParentDirectory(const std::string& path);
// The path with "//", "." and "dir/.." taken out, as the server would open it ("a//b/./c" is
// "a/b/c", "/x/../bak/" is "/bak/"): std::filesystem's lexically_normal for "/" paths, without
// pulling its code into the service's start-up.
std::string LexicallyNormal(const std::string& path);
// The user's home directory: HOME when it is an absolute path, else the password database's.
std::string HomeDirectory();

// Reads a whole regular file; a missing file is no error (exists false).
bool ReadWholeFile(const std::string& path, std::string* text, bool* exists);
// Replaces the file by data atomically: a temporary file in the same directory, written and
// synced, then renamed over it; on any failure the old file stays as it was. The new file keeps
// an existing file's owner, group and mode less `drop_bits`; a file that did not exist gets
// `new_mode`, and the directory's owner when root creates it in someone else's directory.
// On failure errno says why.
bool ReplaceFileAtomically(const std::string& path, const std::string& data, unsigned new_mode,
                           unsigned drop_bits = 0);

// Appends data to the file in one write, creating it (`new_mode`) when missing; a file that root
// creates in someone else's directory is given to that directory's owner. A symbolic link is
// never written through (false).
bool AppendToFile(const std::string& path, const std::string& data, unsigned new_mode);

}  // namespace qv
