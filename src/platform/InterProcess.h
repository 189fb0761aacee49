#pragma once
// What two copies of the program share: a named mutex (a marker that one copy runs) and
// registered messages posted to the other copies of the same user.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace qv {

using SysHandle = uintptr_t;

class IInterProcess {
public:
    virtual ~IInterProcess() = default;
    // A handle when another copy holds the mutex, 0 when none does.
    virtual SysHandle OpenMutex(const std::string& name) = 0;
    // Creates (and from now on holds) the mutex; 0 when that failed.
    virtual SysHandle CreateMutex(const std::string& name) = 0;
    virtual bool CloseHandle(SysHandle handle) = 0;
    // The same number for the same name in every copy (0xC000..0xFFFF).
    virtual uint32_t RegisterWindowMessage(const std::string& name) = 0;
    // From now on, messages with this number from other copies reach the application's hooks.
    virtual void ReceiveBroadcasts(uint32_t message) = 0;
    // No longer; another copy may take the message over.
    virtual void StopReceiving(uint32_t message) = 0;
    // Posts the message to the other copies; returns at once, never delivers to the sender.
    virtual void BroadcastSystemMessage(uint32_t message) = 0;
};

// Linux: the mutex is an flock on a lock file, taken atomically and released by the system when
// the process ends (no stale lock after a crash); messages travel over a local socket named
// after the message. Both live in the user's own runtime directory (see UserRuntimeDirectory),
// never where another user could create them first; a file there that is not the user's own
// is replaced, and a socket answers and is answered only by the same user.
class LinuxInterProcess : public IInterProcess {
public:
    // dir: where lock files and sockets live (default: UserRuntimeDirectory()).
    explicit LinuxInterProcess(std::string dir = "");
    ~LinuxInterProcess() override;

    SysHandle OpenMutex(const std::string& name) override;
    SysHandle CreateMutex(const std::string& name) override;
    bool CloseHandle(SysHandle handle) override;
    uint32_t RegisterWindowMessage(const std::string& name) override;
    void ReceiveBroadcasts(uint32_t message) override;
    void StopReceiving(uint32_t message) override;
    void BroadcastSystemMessage(uint32_t message) override;

    const std::string& Directory() const { return dir_; }
    std::string LockPath(const std::string& name) const;
    std::string SocketPath(uint32_t message) const;

private:
    struct Receiver;
    // The locked descriptor; -2 when another copy holds it, -1 when no lock can be had.
    int TakeLock(const std::string& name);
    std::string dir_;
    std::map<std::string, int> held_;           // mutex name -> locked file descriptor
    std::map<SysHandle, std::string> handles_;  // handle -> mutex name ("" = another copy's)
    std::map<uint32_t, std::string> messages_;
    std::map<uint32_t, std::unique_ptr<Receiver>> receivers_;
    SysHandle next_ = 0x100;
};

// The user's own runtime directory: $XDG_RUNTIME_DIR when it is a 0700 directory of the user,
// else <run_user_base>/<uid> under the same conditions, else $XDG_CACHE_HOME/quorvane (default
// ~/.cache/quorvane), made 0700. Empty when none of these can be had.
std::string UserRuntimeDirectory(const std::string& run_user_base = "/run/user");

// Today's date in the user's short date format (for default component names).
std::string ShortDateText();

}  // namespace qv
