#include "components/LogRecorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FakeClock.h"
#include "TestSupport.h"

namespace qv {
namespace {

using test::ReadFile;
using test::TempDir;

class LogRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock.Set(2026, 12, 7, 23, 59, 59, 0);
        SetClock(&clock);
    }
    void TearDown() override { SetClock(nullptr); }
    FakeClock clock;
    TempDir dir;
};

TEST_F(LogRecorderTest, CoupledSetters) {
    TLogRecorder r(nullptr);
    EXPECT_EQ(r.FileNameMode(), TFileNameMode::mYYMMDD);
    EXPECT_EQ(r.FileNameHead(), "LOG");
    EXPECT_EQ(r.FileName(), "");
    r.SetFileName("X");
    EXPECT_EQ(r.FileNameMode(), TFileNameMode::mCust);
    EXPECT_EQ(r.FileNameHead(), "");
    r.SetFileNameHead("ERR");
    EXPECT_EQ(r.FileName(), "");
    EXPECT_EQ(r.FileNameMode(), TFileNameMode::mYYMMDD);
    r.SetFileNameMode(TFileNameMode::mYYMM);
    EXPECT_EQ(r.FileNameHead(), "ERR");
    r.SetFileName("Y");
    r.SetFileNameMode(TFileNameMode::mYYMM);
    EXPECT_EQ(r.FileName(), "");
    r.SetFileNameMode(TFileNameMode::mCust);
    EXPECT_EQ(r.FileNameHead(), "");
    // The layout order of the main window: FileName, FileNameMode, FileExtName.
    TLogRecorder w(nullptr);
    w.SetFileName("PROC_LOG");
    w.SetFileNameMode(TFileNameMode::mCust);
    w.SetFileExtName("TXT");
    w.SetDirectory("/app/");
    EXPECT_EQ(w.LogFileName(), "/app/PROC_LOG.TXT");
}

TEST_F(LogRecorderTest, FileNamesPerModeAndDate) {
    TLogRecorder r(nullptr);
    r.SetDirectory("/app");
    EXPECT_EQ(r.LogFileName(), "/app/LOG261207");
    r.SetDirectory("");
    r.SetFileNameMode(TFileNameMode::mYYMM);
    r.SetFileExtName("log");
    EXPECT_EQ(r.LogFileName(), "LOG2612.log");
    r.SetDirectory("/");
    EXPECT_EQ(r.LogFileName(), "/LOG2612.log");
    EXPECT_EQ(TLogRecorder::PadNumber(12345, 4), "12345");
    EXPECT_EQ(TLogRecorder::PadNumber(7, 3), "007");
}

TEST_F(LogRecorderTest, WritesExactBytesAndCrossesMidnightIntoANewFile) {
    TLogRecorder r(nullptr);
    r.SetDirectory(dir.path());
    ASSERT_TRUE(r.WriteMessage("中文 line"));
    ASSERT_TRUE(r.WriteMessage(""));
    clock.Advance(2000);
    ASSERT_TRUE(r.WriteMessage("after"));
    EXPECT_EQ(ReadFile(dir / "LOG261207"), "中文 line\r\n\r\n");
    EXPECT_EQ(ReadFile(dir / "LOG261208"), "after\r\n");
}

TEST_F(LogRecorderTest, HandlerCanVetoOrRedirect) {
    TLogRecorder r(nullptr);
    r.SetDirectory(dir.path());
    r.SetFileName("A");
    std::string seen_name;
    r.OnWriteMessage = [&](TLogRecorder* sender, std::string& name, std::string& msg,
                           bool& cancel) {
        EXPECT_EQ(sender, &r);
        seen_name = name;
        if (msg == "veto") cancel = true;
        if (msg == "move") name = dir / "B";
        if (msg == "change") msg = "changed";
    };
    EXPECT_FALSE(r.WriteMessage("veto"));
    EXPECT_EQ(seen_name, dir / "A");
    EXPECT_FALSE(std::filesystem::exists(dir / "A"));
    EXPECT_TRUE(r.WriteMessage("move"));
    EXPECT_TRUE(r.WriteMessage("change"));
    EXPECT_EQ(ReadFile(dir / "B"), "move\r\n");
    EXPECT_EQ(ReadFile(dir / "A"), "changed\r\n");
}

TEST_F(LogRecorderTest, MissingDirectoryGivesFalseAndCreatesNothing) {
    TLogRecorder r(nullptr);
    r.SetDirectory(dir / "missing");
    r.SetFileName("L");
    EXPECT_FALSE(r.WriteMessage("x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(LogRecorderTest, NeverWritesThroughASymbolicLink) {
    // Planted where the log belongs: root running that copy must not append elsewhere.
    test::WriteFile(dir / "other", "mine\n");
    std::filesystem::create_symlink(dir / "other", dir / "L");
    std::filesystem::create_symlink(dir / "absent", dir / "M");
    TLogRecorder r(nullptr);
    r.SetDirectory(dir.path());
    for (const char* name : {"L", "M"}) {
        r.SetFileName(name);
        EXPECT_FALSE(r.WriteMessage("x")) << name;
    }
    EXPECT_EQ(ReadFile(dir / "other"), "mine\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "absent"));
}

TEST_F(LogRecorderTest, ALogThatRootCreatesInAUsersDirectoryIsTheUsers) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away (CI runs as root)";
    ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
    TLogRecorder r(nullptr);
    r.SetDirectory(dir.path());
    r.SetFileName("L");
    ASSERT_TRUE(r.WriteMessage("x"));
    struct stat st {};
    ASSERT_EQ(stat((dir / "L").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(r.WriteMessage("y"));
    EXPECT_EQ(ReadFile(dir / "L"), "x\r\ny\r\n");
}

}  // namespace
}  // namespace qv
