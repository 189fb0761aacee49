#include "platform/InterProcess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDate>
#include <QLocale>
#include <QSocketNotifier>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Platform.h"

namespace qv {

namespace {

std::string SafeName(const std::string& name) {
    std::string out;
    for (unsigned char c : name)
        out += std::isalnum(c) || c == '-' || c == '_' ? static_cast<char>(c) : '_';
    return out;
}

uint32_t Fnv(const std::string& s) {
    uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

// A listening socket of this copy. The file is removed only while it is still this socket:
// another copy may have taken the name over since.
struct LinuxInterProcess::Receiver {
    int fd = -1;
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Receiver() {
        notifier.reset();
        if (IsMine()) unlink(path.c_str());
        if (fd >= 0) close(fd);
    }
    bool IsMine() const {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino;
    }
};

std::string ShortDateText() {
    LocalTime t = Clock().Now();
    return QLocale::system()
        .toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat)
        .toStdString();
}

namespace {

bool IsPrivateDirectory(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && dir[0] == '/' && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == geteuid() && (st.st_mode & 0777) == 0700;
}

// The cache directory and the program's own directory in it, owner-only.
std::string PrivateCacheDirectory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::string cache = xdg && *xdg == '/' ? xdg : HomeDirectory() + "/.cache";
    if (cache == "/.cache") return "";
    mkdir(cache.c_str(), 0700);
    const std::string dir = cache + "/quorvane";
    mkdir(dir.c_str(), 0700);
    struct stat st {};
    if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & 0777) != 0700)
        chmod(dir.c_str(), 0700);
    return IsPrivateDirectory(dir) ? dir : "";
}

// Whether the process at the other end of a local socket is this user's.
bool PeerIsMe(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// One connection from another copy: its 4-byte messages go to the hooks as they arrive. Owned
// by the listening socket's notifier, so none outlives the receiver.
class Connection : public QSocketNotifier {
public:
    Connection(int fd, QObject* parent)
        : QSocketNotifier(fd, QSocketNotifier::Read, parent), fd_(fd) {
        connect(this, &QSocketNotifier::activated, this, [this] { ReadMessages(); });
    }
    ~Connection() override { close(fd_); }

private:
    void ReadMessages() {
        char buf[64];
        ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {  // the other copy is done
            setEnabled(false);
            deleteLater();
            return;
        }
        pending_.append(buf, static_cast<size_t>(n));
        while (pending_.size() >= 4) {
            uint32_t msg = 0;
            std::memcpy(&msg, pending_.data(), 4);
            pending_.erase(0, 4);
            AppMessage m{msg};
            Application().DispatchAppMessage(m);
        }
    }
    int fd_;
    std::string pending_;
};

}  // namespace

std::string UserRuntimeDirectory(const std::string& run_user_base) {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    if (run && IsPrivateDirectory(run)) return run;
    const std::string per_uid = run_user_base + "/" + std::to_string(getuid());
    if (IsPrivateDirectory(per_uid)) return per_uid;
    return PrivateCacheDirectory();
}

LinuxInterProcess::LinuxInterProcess(std::string dir) : dir_(std::move(dir)) {
    if (dir_.empty()) dir_ = UserRuntimeDirectory();
}

LinuxInterProcess::~LinuxInterProcess() {
    // The socket goes first: once the lock is free, a new copy may set up its own.
    receivers_.clear();
    for (auto& [name, fd] : held_) close(fd);
}

std::string LinuxInterProcess::LockPath(const std::string& name) const {
    return dir_ + "/quorvane-" + std::to_string(getuid()) + "-" + SafeName(name) + ".lock";
}

std::string LinuxInterProcess::SocketPath(uint32_t message) const {
    auto it = messages_.find(message);
    std::string name = it == messages_.end() ? std::to_string(message) : it->second;
    return dir_ + "/quorvane-" + std::to_string(getuid()) + "-" + SafeName(name) + ".sock";
}

int LinuxInterProcess::TakeLock(const std::string& name) {
    if (dir_.empty()) return -1;
    const std::string path = LockPath(name);
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st {};
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
            const int error = errno;
            close(fd);
            // Only a lock held elsewhere is another copy; a file system without locks (an NFS
            // home, ENOLCK) says nothing about other copies.
            return error == EWOULDBLOCK ? -2 : -1;
        }
        if (fd >= 0) close(fd);
        // A link, or a file that is not the user's: whoever put it in the user's own directory
        // must neither hold nor switch off the guard. Replace it once.
        if (unlink(path.c_str()) != 0) break;
    }
    return -1;
}

SysHandle LinuxInterProcess::OpenMutex(const std::string& name) {
    if (held_.count(name)) {
        handles_[next_] = name;
        return next_++;
    }
    int fd = TakeLock(name);
    if (fd == -1) return 0;  // no lock to be had: the copy runs unguarded
    if (fd >= 0) {
        // Nobody holds it, and now this copy does: the test and the take are one step.
        held_[name] = fd;
        return 0;
    }
    handles_[next_] = "";
    return next_++;
}

SysHandle LinuxInterProcess::CreateMutex(const std::string& name) {
    if (!held_.count(name)) {
        int fd = TakeLock(name);
        if (fd == -1) return 0;
        if (fd < 0) {
            handles_[next_] = "";  // another copy's
            return next_++;
        }
        held_[name] = fd;
    }
    handles_[next_] = name;
    return next_++;
}

bool LinuxInterProcess::CloseHandle(SysHandle handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    std::string name = it->second;
    handles_.erase(it);
    if (!name.empty()) {
        for (auto& [h, n] : handles_)
            if (n == name) return true;  // still open under another handle
        auto held = held_.find(name);
        if (held != held_.end()) {
            close(held->second);
            held_.erase(held);
        }
    }
    return true;
}

uint32_t LinuxInterProcess::RegisterWindowMessage(const std::string& name) {
    uint32_t id = 0xC000 + Fnv(name) % 0x4000;
    messages_[id] = name;
    return id;
}

void LinuxInterProcess::ReceiveBroadcasts(uint32_t message) {
    if (receivers_.count(message) || dir_.empty()) return;
    auto r = std::make_unique<Receiver>();
    r->path = SocketPath(message);
    sockaddr_un addr{};
    if (!FillAddress(r->path, &addr)) return;
    r->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (r->fd < 0) return;
    // Whatever has the name now is stale (this copy holds the lock) or not the user's.
    unlink(r->path.c_str());
    const mode_t old_mask = umask(0077);
    const bool bound = bind(r->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    umask(old_mask);
    struct stat st {};
    if (!bound || listen(r->fd, 8) != 0 || lstat(r->path.c_str(), &st) != 0) return;
    r->dev = st.st_dev;
    r->ino = st.st_ino;
    r->notifier = std::make_unique<QSocketNotifier>(r->fd, QSocketNotifier::Read);
    QSocketNotifier* listener = r->notifier.get();
    const int server = r->fd;
    QObject::connect(listener, &QSocketNotifier::activated, listener, [listener, server] {
        for (;;) {
            int fd = accept4(server, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) return;
            if (PeerIsMe(fd))
                new Connection(fd, listener);
            else
                close(fd);
        }
    });
    receivers_[message] = std::move(r);
}

void LinuxInterProcess::StopReceiving(uint32_t message) {
    receivers_.erase(message);
}

void LinuxInterProcess::BroadcastSystemMessage(uint32_t message) {
    // Never to this copy itself; a name another copy has taken over since is that copy's.
    auto own = receivers_.find(message);
    if (own != receivers_.end() && own->second->IsMine()) return;
    const std::string path = SocketPath(message);
    struct stat st {};
    sockaddr_un addr{};
    if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != geteuid() ||
        !FillAddress(path, &addr))
        return;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && PeerIsMe(fd))
        [[maybe_unused]]
        ssize_t n = send(fd, &message, sizeof message, MSG_DONTWAIT | MSG_NOSIGNAL);
    close(fd);
}

}  // namespace qv
