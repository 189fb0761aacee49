// The built program as a process.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "FirebirdServer.h"
#include "TestSupport.h"

namespace qv::test {
namespace {

TEST(Program, WithoutTheClientLibraryItSaysSoAndEndsBeforeAnyWindow) {
    TempDir dir, libs;
    std::filesystem::copy_file(QV_PROGRAM, dir / "Quorvane");
    // Unloadable files under both names the program tries, found first on the search path.
    WriteFile(libs / "libfbclient.so.2", "");
    WriteFile(libs / "libfbclient.so", "");
    std::string out;
    int rc = FirebirdServer::Run("cd " + dir.path() + " && LD_LIBRARY_PATH=" + libs.path() +
                                     " QT_QPA_PLATFORM=offscreen timeout 20 ./Quorvane",
                                 &out);
    EXPECT_EQ(rc, 1) << out;
    EXPECT_NE(out.find("Quorvane: InterBase library gds32.dll not found in the path. Please "
                       "install InterBase to use this functionality"),
              std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "PROC_LOG.TXT"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Quorvane.ini"));
}

TEST(Program, SigtermClosesTheWindowTheNormalWay) {
    TempDir dir;
    std::filesystem::copy_file(QV_PROGRAM, dir / "Quorvane");
    std::string out;
    int rc = FirebirdServer::Run(
        "cd " + dir.path() +
            " && (QT_QPA_PLATFORM=offscreen ./Quorvane & pid=$!; "
            "for i in $(seq 1 50); do [ -s PROC_LOG.TXT ] && break; sleep 0.1; done; "
            "kill -TERM $pid; wait $pid)",
        &out);
    EXPECT_EQ(rc, 0) << out;
    std::string log = ReadFile(dir / "PROC_LOG.TXT");
    EXPECT_NE(log.find(":程式執行\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(":系統結束\r\n"), std::string::npos) << log;
    EXPECT_NE(ReadFile(dir / "Quorvane.ini").find("TIMEMODE=0\r\n"), std::string::npos);
}

}  // namespace
}  // namespace qv::test

namespace qv::test {
namespace {

// A normal user who can write neither the program directory nor its home (so neither its own
// settings and log directories): the program runs, says so in a message box that nobody
// answers, and still ends cleanly on SIGTERM.
TEST(Program, AnUnwritableDirectoryDoesNotKeepItFromEnding) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    std::filesystem::copy_file(QV_PROGRAM, dir / "Quorvane");
    std::string out;
    int rc = FirebirdServer::Run(
        "cd " + dir.path() + " && (XDG_RUNTIME_DIR=" + dir.path() + " HOME=" + dir.path() +
            " XDG_CONFIG_HOME= XDG_STATE_HOME= QT_QPA_PLATFORM=offscreen setpriv --reuid=nobody "
            "--regid=nogroup --clear-groups"
            " ./Quorvane & pid=$!; sleep 2; kill -TERM $pid; "
            "for i in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done; "
            "if kill -0 $pid 2>/dev/null; then kill -9 $pid; echo STILL-RUNNING; fi; wait $pid)",
        &out);
    EXPECT_EQ(out.find("STILL-RUNNING"), std::string::npos) << out;
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("Quorvane: 使用者目錄 " + dir.path() + "/.config/quorvane 與 " + dir.path() +
                       "/.local/state/quorvane 無法寫入"),
              std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "PROC_LOG.TXT"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Quorvane.ini"));
}

}  // namespace
}  // namespace qv::test
