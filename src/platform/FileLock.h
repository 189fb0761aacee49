#pragma once
// One writer per settings file: a process that keeps a schedule holds an exclusive lock (flock)
// on its settings file for as long as it runs, so a second process on the same file (another
// copy of the service, the same file started by hand as root, a one-shot backup) is refused.
// The lock is on the file itself, so it needs no directory of its own and no write access;
// the file's own atomic replacement (a new file renamed over it) carries the lock over.
#include <string>

namespace qv {

class TFileLock {
public:
    TFileLock() = default;
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // Takes the lock on the file at `path` without waiting. False, with the reason in *why,
    // only when another process (or another lock of this one) holds it. A file that does not
    // exist yet, or cannot be opened, is held from the moment it is written
    // (ReplaceFileAtomically).
    bool Acquire(const std::string& path, std::string* why);
    // Takes the lock on whatever file the path names now (an editor may have replaced it),
    // keeping the old one until the new one is held.
    bool Reacquire(std::string* why);
    void Release();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Called by ReplaceFileAtomically with the new file's descriptor before it is renamed over
// `path`: when this process holds `path`'s lock, the new file is locked too and becomes the
// held one once the rename succeeded (ReplacementCommitted). No one else can take it in between: it
// has no name yet.
bool LockReplacement(const std::string& path, int new_fd);
void ReplacementCommitted(const std::string& path, bool renamed);

}  // namespace qv
