#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>

#include "InterProcess.h"
#include "Shell.h"
#include "ShellLauncher.h"
#include "TestSupport.h"

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

}  // namespace
}  // namespace qv
