#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/InterProcess.h"
#include "components/Shell.h"
#include "platform/ShellLauncher.h"
#include "TestSupport.h"

// flock for the whole test program, failing with this error while it is not 0 (a file system
// without locks answers ENOLCK).
static int g_flock_error = 0;
extern "C" int flock(int fd, int operation) noexcept {
    if (g_flock_error != 0) {
        errno = g_flock_error;
        return -1;
    }
    static auto real = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "flock"));
    return real(fd, operation);
}

namespace qv {
namespace {

using test::TempDir;
using test::WriteFile;

struct Started {
    std::string program;
    std::vector<std::string> args;
    std::string dir;
};

TEST(ShellLauncherTest, ResultsAndArgumentLists) {
    TempDir dir;
    WriteFile(dir / "PROC_LOG.TXT", "x");
    WriteFile(dir / "tool.sh", "#!/bin/sh\n");
    chmod((dir / "tool.sh").c_str(), 0755);
    std::vector<Started> started;
    bool start_ok = true;
    XdgShellLauncher launcher(
        [&](const std::string& p, const std::vector<std::string>& a, const std::string& d) {
            started.push_back({p, a, d});
            return start_ok;
        });
    // A relative document in the working directory goes to xdg-open as an absolute path.
    EXPECT_EQ(launcher.ShellExecute("PROC_LOG.TXT", "", dir.path(), 1), kShellAccepted);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].program, "xdg-open");
    EXPECT_EQ(started[0].args, std::vector<std::string>{dir / "PROC_LOG.TXT"});
    EXPECT_EQ(started[0].dir, dir.path());
    // A program starts itself, its parameters as an argument list (never a shell string).
    EXPECT_EQ(launcher.ShellExecute(dir / "tool.sh", "a 'b c' \"d;e\" $HOME", "", 1),
              kShellAccepted);
    EXPECT_EQ(started[1].program, dir / "tool.sh");
    EXPECT_EQ(started[1].args, (std::vector<std::string>{"a", "b c", "d;e", "$HOME"}));
    EXPECT_EQ(launcher.ShellExecute("missing.txt", "", dir.path(), 1), SE_ERR_FNF);
    EXPECT_EQ(launcher.ShellExecute(dir / "no/such/x.txt", "", "", 1), SE_ERR_PNF);
    EXPECT_EQ(launcher.ShellExecute("x", "", dir / "nodir", 1), SE_ERR_PNF);
    EXPECT_EQ(launcher.ShellExecute("", "", "", 1), SE_ERR_FNF);
    start_ok = false;
    EXPECT_EQ(launcher.ShellExecute(dir / "tool.sh", "", "", 1), SE_ERR_ACCESSDENIED);
    EXPECT_EQ(started.size(), 3u);
}

TEST(ShellLauncherTest, OnlyExecutableProgramsStartEverythingElseOpensByAbsolutePath) {
    TempDir dir;
    WriteFile(dir / "-a:b.TXT", "log\n");  // an execute bit on every file, as NTFS and SMB give
    WriteFile(dir / "tool", std::string{'\x7f', 'E', 'L', 'F', 2, 1});
    WriteFile(dir / "empty", "");
    for (const char* name : {"-a:b.TXT", "tool", "empty"}) chmod((dir / name).c_str(), 0755);
    std::vector<Started> started;
    XdgShellLauncher launcher(
        [&](const std::string& p, const std::vector<std::string>& a, const std::string& d) {
            started.push_back({p, a, d});
            return true;
        });
    EXPECT_EQ(launcher.ShellExecute("-a:b.TXT", "", dir.path(), 1), kShellAccepted);
    EXPECT_EQ(launcher.ShellExecute("tool", "x", dir.path(), 1), kShellAccepted);
    EXPECT_EQ(launcher.ShellExecute(dir / "empty", "", "", 1), kShellAccepted);
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[0].program, "xdg-open");
    EXPECT_EQ(started[0].args, std::vector<std::string>{dir / "-a:b.TXT"});
    EXPECT_EQ(started[1].program, "./tool");
    EXPECT_EQ(started[1].args, std::vector<std::string>{"x"});
    EXPECT_EQ(started[2].program, "xdg-open");
    // Without a directory a relative name is taken from the current one.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    launcher.ShellExecute("-a:b.TXT", "", "", 1);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(started.back().args, std::vector<std::string>{dir / "-a:b.TXT"});
}

struct ScriptedLauncher : IShellLauncher {
    int result = 0;
    std::vector<std::vector<std::string>> calls;
    int ShellExecute(const std::string& f, const std::string& p, const std::string& d,
                     int s) override {
        calls.push_back({f, p, d, std::to_string(s)});
        return result;
    }
};

TEST(TShellTest, ShowCommandsResultsAndUnjoinedNames) {
    ScriptedLauncher fake;
    SetShellLauncher(&fake);
    TShell shell(nullptr);
    EXPECT_EQ(shell.ShowCmd(), TShowCmd::ShowNormal);
    const int expected[] = {0, 3, 6, 9, 5, 10, 3, 2, 7, 8, 4, 1};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(ShowCommandOf(static_cast<TShowCmd>(i)), expected[i]);
    shell.SetFileName("PROC_LOG.TXT");
    shell.SetDirectory("/opt/q");
    fake.result = 32;
    EXPECT_FALSE(shell.Execute());
    EXPECT_EQ(shell.LastResult(), 32);
    fake.result = 33;
    EXPECT_TRUE(shell.Execute());
    fake.result = -5;
    EXPECT_FALSE(shell.Execute());  // signed comparison
    EXPECT_EQ(fake.calls[0], (std::vector<std::string>{"PROC_LOG.TXT", "", "/opt/q", "1"}));
    SetShellLauncher(nullptr);
}

TEST(SplitCommandLineTest, QuotesAndEscapes) {
    EXPECT_EQ(SplitCommandLine("  a\\ b  'c\"d' \"e\\\"f\" ''"),
              (std::vector<std::string>{"a b", "c\"d", "e\"f", ""}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(LinuxInterProcessTest, TheMutexIsTakenAtomicallyAndFreedWithItsHolder) {
    TempDir dir;
    LinuxInterProcess first(dir.path()), second(dir.path());
    EXPECT_EQ(first.OpenMutex("Quorvane"), 0u);  // nobody: and now first holds it
    SysHandle mine = first.CreateMutex("Quorvane");
    EXPECT_NE(mine, 0u);
    SysHandle theirs = second.OpenMutex("Quorvane");
    EXPECT_NE(theirs, 0u);  // the other copy holds it
    EXPECT_TRUE(second.CloseHandle(theirs));
    EXPECT_TRUE(first.CloseHandle(mine));
    EXPECT_EQ(second.OpenMutex("Quorvane"), 0u);  // released

    // A holder that dies leaves no stale lock.
    pid_t child = fork();
    if (child == 0) {
        LinuxInterProcess crashed(dir.path());
        crashed.OpenMutex("Other");
        crashed.CreateMutex("Other");
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    LinuxInterProcess after(dir.path());
    EXPECT_EQ(after.OpenMutex("Other"), 0u);
}

TEST(LinuxInterProcessTest, OnlyALockHeldElsewhereMeansAnotherCopy) {
    TempDir dir;
    LinuxInterProcess first(dir.path()), second(dir.path());
    g_flock_error = ENOLCK;  // no locks here: the copy runs without the guard
    EXPECT_EQ(first.OpenMutex("Quorvane"), 0u);
    EXPECT_EQ(first.CreateMutex("Quorvane"), 0u);
    g_flock_error = EWOULDBLOCK;
    EXPECT_NE(second.OpenMutex("Quorvane"), 0u);
    g_flock_error = 0;
}

TEST(LinuxInterProcessTest, BroadcastsReachTheOtherCopyOnly) {
    TempDir dir;
    FakeApplication& app = test::FakeApp();
    std::vector<uint32_t> seen;
    int hook = app.HookMainWindow([&](AppMessage& m) {
        seen.push_back(m.msg);
        return true;
    });
    LinuxInterProcess receiver(dir.path()), sender(dir.path());
    uint32_t id = receiver.RegisterWindowMessage("Quorvane");
    EXPECT_EQ(sender.RegisterWindowMessage("Quorvane"), id);
    EXPECT_GE(id, 0xC000u);
    receiver.ReceiveBroadcasts(id);
    receiver.BroadcastSystemMessage(id);  // never to itself
    sender.BroadcastSystemMessage(id);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.empty() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(seen, std::vector<uint32_t>{id});
    app.UnhookMainWindow(hook);
}

TEST(LinuxInterProcessTest, AStaleSocketFromACrashedCopyIsReplaced) {
    TempDir dir;
    LinuxInterProcess ipc(dir.path());
    uint32_t id = ipc.RegisterWindowMessage("Quorvane");
    WriteFile(ipc.SocketPath(id), "");  // left behind
    ipc.ReceiveBroadcasts(id);
    LinuxInterProcess other(dir.path());
    other.RegisterWindowMessage("Quorvane");
    std::vector<uint32_t> seen;
    int hook = test::FakeApp().HookMainWindow([&](AppMessage& m) {
        seen.push_back(m.msg);
        return true;
    });
    other.BroadcastSystemMessage(id);
    for (int i = 0; i < 100 && seen.empty(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(seen.size(), 1u);
    test::FakeApp().UnhookMainWindow(hook);
}

// The messages that reach the application's hooks within five seconds of send.
std::vector<uint32_t> Delivered(const std::function<void()>& send) {
    std::vector<uint32_t> seen;
    int hook = test::FakeApp().HookMainWindow([&](AppMessage& m) {
        seen.push_back(m.msg);
        return true;
    });
    send();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.empty() && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        usleep(5000);
    }
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    test::FakeApp().UnhookMainWindow(hook);
    return seen;
}

TEST(LinuxInterProcessTest, ACopyThatStillListensBroadcastsToTheCopyThatTookTheNameOver) {
    TempDir dir;
    auto first = std::make_unique<LinuxInterProcess>(dir.path());
    LinuxInterProcess second(dir.path()), third(dir.path());
    uint32_t id = first->RegisterWindowMessage("Quorvane");
    second.RegisterWindowMessage("Quorvane");
    third.RegisterWindowMessage("Quorvane");
    first->ReceiveBroadcasts(id);
    second.ReceiveBroadcasts(id);  // the first copy let go of its mutex; the second took over
    EXPECT_EQ(Delivered([&] { first->BroadcastSystemMessage(id); }), std::vector<uint32_t>{id});
    first.reset();  // its end leaves the second copy's socket alone
    EXPECT_TRUE(std::filesystem::exists(second.SocketPath(id)));
    EXPECT_EQ(Delivered([&] { third.BroadcastSystemMessage(id); }), std::vector<uint32_t>{id});
    second.StopReceiving(id);
    EXPECT_FALSE(std::filesystem::exists(second.SocketPath(id)));
}

// A listening socket at path, as another user would leave one.
int ForeignListener(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(listen(fd, 4), 0);
    if (geteuid() == 0) {
        EXPECT_EQ(chown(path.c_str(), test::kOtherUid, test::kOtherGid), 0);
    }
    return fd;
}

TEST(LinuxInterProcessTest, FilesAnotherUserPutFirstNeitherBlockNorDisableNorListen) {
    TempDir dir;
    LinuxInterProcess probe(dir.path());
    uint32_t id = probe.RegisterWindowMessage("Quorvane");
    // A lock file that is not the user's, held open and locked; a link in place of another.
    const std::string lock = probe.LockPath("Quorvane");
    if (geteuid() == 0) {
        WriteFile(lock, "");
        ASSERT_EQ(chown(lock.c_str(), test::kOtherUid, test::kOtherGid), 0);
    } else {
        WriteFile(dir / "target", "");
        ASSERT_EQ(symlink((dir / "target").c_str(), lock.c_str()), 0);
    }
    int held = open(lock.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    WriteFile(dir / "elsewhere", "");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), probe.LockPath("Other").c_str()), 0);

    LinuxInterProcess first(dir.path()), second(dir.path());
    EXPECT_EQ(first.OpenMutex("Quorvane"), 0u);   // not blocked: the guard is this user's
    EXPECT_NE(second.OpenMutex("Quorvane"), 0u);  // and on: the next copy sees the first
    EXPECT_EQ(first.OpenMutex("Other"), 0u);
    EXPECT_NE(second.OpenMutex("Other"), 0u);
    EXPECT_FALSE(std::filesystem::is_symlink(probe.LockPath("Other")));
    EXPECT_EQ(test::ReadFile(dir / "elsewhere"), "");
    close(held);

    // A socket someone else listens on at the message's name: replaced by the first copy's own,
    // and never spoken to.
    int foreign = ForeignListener(first.SocketPath(id));
    first.RegisterWindowMessage("Quorvane");
    second.RegisterWindowMessage("Quorvane");
    first.ReceiveBroadcasts(id);
    EXPECT_EQ(Delivered([&] { second.BroadcastSystemMessage(id); }), std::vector<uint32_t>{id});
    EXPECT_LT(accept(foreign, nullptr, nullptr), 0);
    close(foreign);
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can make another user's socket (CI runs as root)";
    first.StopReceiving(id);
    foreign = ForeignListener(first.SocketPath(id));
    second.BroadcastSystemMessage(id);                // a local connection would be queued at once
    EXPECT_LT(accept(foreign, nullptr, nullptr), 0);  // a socket of another user gets nothing
    close(foreign);
}

TEST(LinuxInterProcessTest, ALockFileTheUserCannotOpenDoesNotSwitchTheGuardOff) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    const std::string run = dir / "run";
    mkdir(run.c_str(), 0700);
    LinuxInterProcess probe(run);
    WriteFile(probe.LockPath("Quorvane"), "");  // the test's own user: root in CI
    chmod(probe.LockPath("Quorvane").c_str(), 0600);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(run.c_str(), test::kOtherUid, test::kOtherGid), 0);
    }
    int rc = test::RunAsNormalUser([&] {
        LinuxInterProcess first(run), second(run);
        EXPECT_EQ(first.OpenMutex("Quorvane"), 0u);
        EXPECT_NE(first.CreateMutex("Quorvane"), 0u);
        EXPECT_NE(second.OpenMutex("Quorvane"), 0u);  // the guard is on
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(UserRuntimeDirectoryTest, OnlyADirectoryOfTheUsersOwnAndNeverASharedOne) {
    TempDir dir;
    auto keep = [](const char* name) {
        const char* v = std::getenv(name);
        return std::pair<std::string, bool>(v ? v : "", v != nullptr);
    };
    auto old_run = keep("XDG_RUNTIME_DIR"), old_cache = keep("XDG_CACHE_HOME");
    const std::string base = dir / "run-user", mine = base + "/" + std::to_string(getuid());
    std::filesystem::create_directories(mine);
    chmod(mine.c_str(), 0700);
    std::filesystem::create_directories(dir / "shared");
    chmod((dir / "shared").c_str(), 01777);
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);

    setenv("XDG_RUNTIME_DIR", (dir / "shared").c_str(), 1);  // like /tmp: anyone may create
    EXPECT_EQ(UserRuntimeDirectory(base), mine);
    unsetenv("XDG_RUNTIME_DIR");  // a copy started without it finds the same place
    EXPECT_EQ(UserRuntimeDirectory(base), mine);
    setenv("XDG_RUNTIME_DIR", mine.c_str(), 1);
    EXPECT_EQ(UserRuntimeDirectory(base), mine);
    chmod(mine.c_str(), 0755);  // not private any more
    EXPECT_EQ(UserRuntimeDirectory(base), dir / "cache/quorvane");
    struct stat st {};
    ASSERT_EQ(stat((dir / "cache/quorvane").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    if (geteuid() == 0) {  // a private directory of another user is no place either
        chmod(mine.c_str(), 0700);
        ASSERT_EQ(chown(mine.c_str(), test::kOtherUid, test::kOtherGid), 0);
        EXPECT_EQ(UserRuntimeDirectory(base), dir / "cache/quorvane");
    }
    for (auto [name, v] : {std::pair{"XDG_RUNTIME_DIR", old_run}, {"XDG_CACHE_HOME", old_cache}}) {
        if (v.second)
            setenv(name, v.first.c_str(), 1);
        else
            unsetenv(name);
    }
}

}  // namespace
}  // namespace qv
