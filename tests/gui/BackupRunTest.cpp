// What only the window adds to a run, over the client-library double, which the program finds
// through the library search path (LD_LIBRARY_PATH points at it for this test program): a
// failure on the desktop or from the icon, the tool-tip, and the connection test with its boxes.
// The run itself is tested through the engine (tests/engine).
#include <gtest/gtest.h>

#include <algorithm>

#include "FakeDesktopNotifications.h"
#include "FakeNotificationArea.h"
#include "FormFixture.h"
#include "engine/KeeperFixture.h"  // a connection left open

namespace qv::test {
namespace {

class BackupRunTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Start();
        dbl = std::make_unique<FbDouble>("libfbclient.so.2");
        ASSERT_TRUE(dbl->ok()) << "the program did not load the double";
        dbl->Reset();
        form->Edit1->setText("dbhost");
        form->Edit2->setText("/data/x.fdb");
        form->Edit4->setText("/var/bak");
        form->SetUserName("SYSDBA");
        form->SetPassword("pw");
        form->StartButton->click();
        base_log = LogMessages().size();
    }
    void TearDown() override {
        dbl.reset();
        FormFixture::TearDown();
    }
    // A tick at that moment, the schedule having checked every minute before it (the clock's
    // jump is no gap).
    void TickAt(int y, int mo, int d, int h, int mi) {
        clock.Set(y, mo, d, h, mi, 0, 500);
        NoGapBefore();
        form->Timer1Timer();
        SettleBackups();
    }
    Msgs NewLog() const {
        Msgs all = LogMessages();
        return Msgs(all.begin() + static_cast<long>(base_log), all.end());
    }
    std::unique_ptr<FbDouble> dbl;
    size_t base_log = 0;
};

TEST_F(BackupRunTest, FailuresShowFromTheIconWhileItStandsForTheWindow) {
    FakeDesktopNotifications desktop;
    SetDesktopNotifications(&desktop);
    auto& area = static_cast<FakeNotificationArea&>(NotificationArea());
    area.calls.clear();
    dbl->Fail("isc_service_attach", 335544721, -902, {"refused"});
    TickAt(2026, 12, 7, 10, 0);  // window on screen: the desktop's service
    form->Timer2Timer();         // minimised: the icon stands for it
    dbl->Fail("isc_service_attach", 335544721, -902, {"refused"});
    TickAt(2026, 12, 7, 10, 5);
    // One notification each: the failure line and the server's reason under it.
    EXPECT_EQ(desktop.shown, (std::vector<std::pair<std::string, std::string>>{
                                 {"Quorvane", "資料庫 /data/x.fdb 服務啟動失敗\nrefused"}}));
    const auto message = std::find_if(area.calls.rbegin(), area.calls.rend(),
                                      [](const auto& c) { return c.op == "message"; });
    ASSERT_NE(message, area.calls.rend());
    EXPECT_EQ(message->record.tip, "Quorvane|資料庫 /data/x.fdb 服務啟動失敗\nrefused");
    // Then the tool-tip tells of that run.
    EXPECT_EQ(area.calls.back().record.tip,
              "Interbase 6 Quorvane\n上次備份 2026/12/07 10:05 資料庫 /data/x.fdb 服務啟動失敗\n"
              "下次備份 2026/12/07 10:10");
    SetDesktopNotifications(nullptr);
}

TEST_F(BackupRunTest, ConnectionTestReportsAndLeavesEverythingElseAlone) {
    const std::string ini_before = ReadFile(dir / "Quorvane.ini");
    form->Button1Click();
    dbl->Fail("isc_service_attach", 335544721, -902, {"refused"});
    form->Button1Click();
    ASSERT_EQ(FakeApp().messages.size(), 2u);
    EXPECT_EQ(FakeApp().messages[0],
              (std::pair<std::string, std::string>{"服務連結成功 !!", "Quorvane"}));
    EXPECT_EQ(FakeApp().messages[1].first, "服務連結失敗 !!");
    EXPECT_EQ(NewLog(), Msgs{});
    EXPECT_EQ(ReadFile(dir / "Quorvane.ini"), ini_before);
    EXPECT_TRUE(form->StartButton->Down());
    EXPECT_FALSE(form->Testing());
    EXPECT_EQ(dbl->Names(),
              (Msgs{"isc_service_attach", "isc_service_detach", "isc_service_attach"}));
    for (auto& c : dbl->ServiceCalls()) EXPECT_NE(c.name, "isc_service_start");
}

TEST_F(BackupRunTest, AFailingCloseOfALeftOverConnectionIsAFailedConnectionTest) {
    LeaveAConnectionThatWillNotClose(*form->IBBackupService1, *dbl);
    form->Button1Click();
    ASSERT_EQ(FakeApp().messages.size(), 1u);
    EXPECT_EQ(FakeApp().messages[0].first, "服務連結失敗 !!");
    EXPECT_FALSE(form->Testing());
    EXPECT_EQ(NewLog(), Msgs{});
}

TEST_F(BackupRunTest, BackupFallingDueDuringTheTestIsMade) {
    FakeApp().while_message_open = [&](const std::string&) {
        EXPECT_FALSE(form->Testing());  // cleared once the test's attach returned
        TickAt(2026, 12, 7, 10, 0);
    };
    form->Button1Click();
    FakeApp().while_message_open = nullptr;
    EXPECT_EQ(FakeApp().messages.at(0).first, "服務連結成功 !!");
    EXPECT_EQ(NewLog(), (Msgs{"備份條件符合", "開始備份/var/bak/1000.gbk", "備份結束...",
                              "備份完成/var/bak/1000.gbk"}));
    EXPECT_FALSE(form->IBBackupService1->Active());
    EXPECT_EQ(dbl->Names(), (Msgs{"isc_service_attach", "isc_service_detach", "isc_service_attach",
                                  "isc_service_start", "isc_service_query", "isc_service_query",
                                  "isc_service_detach"}));
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

}  // namespace
}  // namespace qv::test
