#include "InterProcess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDate>
#include <cctype>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Application.h"
#include "Clock.h"
#include "Platform.h"

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

struct LinuxInterProcess::Receiver {
    std::unique_ptr<QLocalServer> server;
};

std::string ShortDateText() {
    LocalTime t = Clock().Now();
    return QLocale::system()
        .toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat)
        .toStdString();
}

LinuxInterProcess::LinuxInterProcess(std::string dir) : dir_(std::move(dir)) {
    if (dir_.empty()) {
        const char* run = std::getenv("XDG_RUNTIME_DIR");
        dir_ = run && *run && access(run, W_OK) == 0 ? run : "/tmp";
    }
}

LinuxInterProcess::~LinuxInterProcess() {
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

SysHandle LinuxInterProcess::OpenMutex(const std::string& name) {
    if (held_.count(name)) {
        handles_[next_] = name;
        return next_++;
    }
    int fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Nobody holds it, and now this copy does: the test and the take are one step.
        held_[name] = fd;
        return 0;
    }
    close(fd);
    handles_[next_] = "";
    return next_++;
}

SysHandle LinuxInterProcess::CreateMutex(const std::string& name) {
    if (!held_.count(name)) {
        int fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return 0;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
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
    if (receivers_.count(message)) return;
    auto r = std::make_unique<Receiver>();
    r->server = std::make_unique<QLocalServer>();
    const QString path = QString::fromStdString(SocketPath(message));
    QLocalServer::removeServer(path);  // one left by a crashed copy
    if (!r->server->listen(path)) return;
    QLocalServer* server = r->server.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket* s = server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::readyRead, s, [s] {
                while (s->bytesAvailable() >= 4) {
                    QByteArray b = s->read(4);
                    uint32_t msg = 0;
                    std::memcpy(&msg, b.constData(), 4);
                    AppMessage m{msg};
                    Application().DispatchAppMessage(m);
                }
            });
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    receivers_[message] = std::move(r);
}

void LinuxInterProcess::BroadcastSystemMessage(uint32_t message) {
    if (receivers_.count(message)) return;  // this copy receives it: never send to oneself
    const std::string path = SocketPath(message);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() < sizeof addr.sun_path) {
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) [[maybe_unused]]
            ssize_t n = send(fd, &message, sizeof message, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    close(fd);
}

}  // namespace qv
