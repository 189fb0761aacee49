// The schedule as the engine keeps it for both programs, seen as the service sees it: no window,
// the client-library double (found through the library search path), a fake clock.
#include "engine/ScheduleKeeper.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include "FakeClock.h"
#include "FbDouble.h"
#include "TestSupport.h"

namespace qv::test {
namespace {

using Heard = std::vector<std::pair<std::string, TLinePriority>>;
constexpr TLinePriority kInfo = TLinePriority::Info;

class KeeperTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock.Set(2026, 12, 7, 10, 4, 57, 0);
        SetClock(&clock);
        service = std::make_unique<TIBBackupService>(nullptr);  // loads the client library
        service->SetLoginPrompt(false);
        dbl = std::make_unique<FbDouble>("libfbclient.so.2");
        ASSERT_TRUE(dbl->ok()) << "the engine did not load the double";
        dbl->Reset();
        keeper = std::make_unique<TScheduleKeeper>(*service);
        keeper->SetDirectory(dir.path() + "/");
        keeper->Settings = [this] { return settings; };
        keeper->OnLine = [this](const std::string& m, TLinePriority p) { heard.push_back({m, p}); };
        keeper->OnStateChanged = [this] { ++state_changes; };
        keeper->Runner().follow_poll_ms = 10;
        settings.server_name = "dbhost";
        settings.database_name = "/data/x.fdb";
        settings.backup_dir = "/var/bak";
        settings.password = "pw";
    }
    void TearDown() override {
        keeper.reset();
        service.reset();
        dbl.reset();
        SetClock(nullptr);
    }
    void TickAt(int h, int mi) {
        clock.Set(2026, 12, 7, h, mi, 0, 500);
        keeper->Tick();
        for (int i = 0; keeper->Busy() && i < 1000; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(5);
        }
    }

    TempDir dir;
    FakeClock clock;
    std::unique_ptr<FbDouble> dbl;
    std::unique_ptr<TIBBackupService> service;
    std::unique_ptr<TScheduleKeeper> keeper;
    TBackupSettings settings;
    Heard heard;
    int state_changes = 0;
};

TEST_F(KeeperTest, ADueMinuteIsLoggedHeardAndShownInTheState) {
    keeper->Log("程式執行");
    keeper->Start();
    TickAt(10, 4);  // not due
    TickAt(10, 5);
    EXPECT_EQ(heard, (Heard{{"程式執行", kInfo},
                            {"備份條件符合", kInfo},
                            {"開始備份/var/bak/1005.gbk", kInfo},
                            {"備份結束...", kInfo},
                            {"備份完成/var/bak/1005.gbk", kInfo}}));
    EXPECT_EQ(state_changes, 1);  // the run's end
    EXPECT_EQ(keeper->StatusText(),
              "上次備份 2026/12/07 10:05 備份完成/var/bak/1005.gbk; 下次備份 2026/12/07 10:10");
    keeper->Close();
    EXPECT_EQ(heard.back(), (std::pair<std::string, TLinePriority>{"系統結束", kInfo}));
    // The log holds the same lines, stamped to the second, CR LF after each.
    const std::string log = ReadFile(dir / "PROC_LOG.TXT");
    EXPECT_EQ(log.rfind("20261207.100457:程式執行\r\n20261207.100500:備份條件符合\r\n", 0), 0u);
    EXPECT_NE(log.find("\r\n20261207.100500:備份完成/var/bak/1005.gbk\r\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("\r\n20261207.100500:系統結束\r\n"));
}

TEST_F(KeeperTest, AFailedStartIsOneReportOfTwoLinesAndAStoppedScheduleRunsNothing) {
    keeper->Start();
    dbl->Fail("isc_service_attach", 335544472, -902,
              {"Your user name and password are not defined"});
    TickAt(10, 5);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1], (std::pair<std::string, TLinePriority>{
                            "資料庫 /data/x.fdb 服務啟動失敗\nYour user name and password are not "
                            "defined",
                            TLinePriority::Failure}));
    const std::string log = ReadFile(dir / "PROC_LOG.TXT");
    EXPECT_NE(log.find(":資料庫 /data/x.fdb 服務啟動失敗\r\n20261207.100500:Your user name"),
              std::string::npos);
    // The state shows the failure line, not its reason.
    EXPECT_EQ(keeper->StateLines().front(),
              "上次備份 2026/12/07 10:05 資料庫 /data/x.fdb 服務啟動失敗");

    keeper->Armed = [] { return false; };
    heard.clear();
    TickAt(10, 10);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(keeper->StateLines().back(), "下次備份 無");
}

}  // namespace
}  // namespace qv::test
