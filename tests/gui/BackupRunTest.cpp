// The backup run and the connection test over the client-library double, which the program
// finds through the library search path (LD_LIBRARY_PATH points at it for this test program).
#include <gtest/gtest.h>

#include <algorithm>

#include <QThread>

#include "FakeDesktopNotifications.h"
#include "FakeNotificationArea.h"
#include "FbDouble.h"
#include "FormFixture.h"

namespace qv::test {
namespace {

using Msgs = std::vector<std::string>;

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
    // A connection left open (as after a run inside a connection test), whose close fails.
    void LeaveAConnectionThatWillNotClose() {
        auto handler = form->IBBackupService1->OnAttach;
        form->IBBackupService1->OnAttach = nullptr;
        form->IBBackupService1->SetServerName("dbhost");
        form->IBBackupService1->SetActive(true);
        form->IBBackupService1->OnAttach = handler;
        dbl->Fail("isc_service_detach", 335544721, -902, {"gone"});
    }
    // The backup file named by the last start request.
    std::string RequestedFile() const {
        for (auto& c : dbl->ServiceCalls())
            if (c.name == "isc_service_start") last_start = c.data;
        size_t at = last_start.rfind('\x05');
        if (at == std::string::npos || at + 3 > last_start.size()) return "<none>";
        size_t len = static_cast<unsigned char>(last_start[at + 1]) |
                     static_cast<unsigned char>(last_start[at + 2]) << 8;
        return last_start.substr(at + 3, len);
    }
    std::unique_ptr<FbDouble> dbl;
    size_t base_log = 0;
    mutable std::string last_start;
};

TEST_F(BackupRunTest, DayNamesForSpecificTimeEveryDay) {
    SelectUser(form->ComboBox4, 7);
    form->MaskEdit1->SetText("0200");
    form->StartButton->click();
    base_log = LogMessages().size();
    TickAt(2027, 3, 7, 2, 0);
    EXPECT_EQ(RequestedFile(), "/var/bak/Day07.gbk");
    EXPECT_EQ(NewLog(), (Msgs{"備份條件符合", "開始備份/var/bak/Day07.gbk", "備份結束...",
                              "備份完成/var/bak/Day07.gbk"}));
    TickAt(2027, 3, 31, 2, 0);
    EXPECT_EQ(RequestedFile(), "/var/bak/Day31.gbk");
    EXPECT_FALSE(form->IBBackupService1->Active());
    auto calls = dbl->ServiceCalls();
    EXPECT_EQ(calls.at(0).data, "dbhost:service_mgr");
    EXPECT_EQ(Bytes(calls.at(0).spb), Cat({{2, 2, 0x1C, 6}, Bytes("SYSDBA"), {0x1D, 2, 'p', 'w'}}));
}

TEST_F(BackupRunTest, WeekNamesForSpecificTimeOnOtherDateModes) {
    SelectUser(form->ComboBox4, 7);
    form->MaskEdit1->SetText("0200");
    // Every date mode but "every day" names the file by the day of the week.
    const struct {
        int mode, day;
        const char* file;
    } cases[] = {
        {1, 9, "Week4"}, {2, 12, "Week7"}, {3, 13, "Week1"}, {4, 13, "Week1"}, {4, 12, "Week7"}};
    for (auto& c : cases) {
        SelectUser(form->ComboBox2, c.mode);
        form->StartButton->click();
        TickAt(2026, 12, c.day, 2, 0);
        EXPECT_EQ(RequestedFile(), std::string("/var/bak/") + c.file + ".gbk") << c.mode;
    }
}

TEST_F(BackupRunTest, TickNamesAndManualNames) {
    SelectUser(form->ComboBox4, 2);
    form->StartButton->click();
    TickAt(2026, 12, 7, 13, 30);
    EXPECT_EQ(RequestedFile(), "/var/bak/1330.gbk");
    SelectUser(form->ComboBox3, 1);
    form->Edit5->setText("nightly copy ");
    form->StartButton->click();
    TickAt(2026, 12, 7, 14, 0);
    EXPECT_EQ(RequestedFile(), "/var/bak/nightly copy .gbk");  // untrimmed
}

TEST_F(BackupRunTest, DirectoryPartAndSeparators) {
    const struct {
        const char* dir;
        const char* file;
    } cases[] = {{"  /var/bak/  ", "/var/bak/1000.gbk"},
                 {"D:\\BAK", "D:\\BAK\\1000.gbk"},
                 {"D:\\BAK\\", "D:\\BAK\\1000.gbk"},
                 {" C:\\ ", "C:\\1000.gbk"},
                 {"\\\\nas\\bak", "\\\\nas\\bak\\1000.gbk"}};
    for (auto& c : cases) {
        form->Edit4->setText(c.dir);
        form->StartButton->click();
        TickAt(2026, 12, 7, 10, 0);
        EXPECT_EQ(RequestedFile(), c.file) << "'" << c.dir << "'";
    }
    // A directory the server would take as relative to its own working directory (a reboot may
    // empty it) fails the due minute with its reason; nothing reaches the server.
    for (const char* dir : {"backups/daily", "", "   ", "C:bak"}) {
        form->Edit4->setText(dir);
        form->StartButton->click();
        dbl->Reset();
        TickAt(2026, 12, 7, 10, 5);
        EXPECT_TRUE(dbl->ServiceCalls().empty()) << "'" << dir << "'";
        const Msgs log = LogMessages();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], "資料庫 /data/x.fdb 服務啟動失敗") << "'" << dir << "'";
        EXPECT_EQ(log.back().rfind("備份路徑", 0) == 0 || log.back().rfind("沒有備份路徑", 0) == 0,
                  true)
            << log.back();
    }
}

TEST_F(BackupRunTest, ProtocolWithoutSelectionKeepsTheLastOne) {
    form->ComboBox1->setCurrentIndex(-1);
    TickAt(2026, 12, 7, 10, 0);
    EXPECT_EQ(dbl->ServiceCalls().back().name, "isc_service_detach");
    EXPECT_EQ(form->IBBackupService1->Protocol(), TProtocol::TCP);
    SelectUser(form->ComboBox1, 0);
    form->StartButton->click();
    TickAt(2026, 12, 7, 10, 5);
    EXPECT_EQ(form->IBBackupService1->Protocol(), TProtocol::Local);
    form->ComboBox1->setCurrentIndex(-1);
    TickAt(2026, 12, 7, 10, 10);
    std::vector<std::string> services;
    for (auto& c : dbl->ServiceCalls())
        if (c.name == "isc_service_attach") services.push_back(c.data);
    EXPECT_EQ(services, (Msgs{"dbhost:service_mgr", "service_mgr", "service_mgr"}));
}

TEST_F(BackupRunTest, AttachFailureLogsTheFailureLineAndTheServersReason) {
    dbl->Fail("isc_service_attach", 335544721, -902,
              {"Unable to complete network request", "Failed to establish a connection"});
    TickAt(2026, 12, 7, 10, 0);
    EXPECT_EQ(NewLog(), (Msgs{"備份條件符合", "資料庫 /data/x.fdb 服務啟動失敗",
                              "Unable to complete network request Failed to establish a "
                              "connection"}));
    EXPECT_TRUE(FakeApp().messages.empty());
    EXPECT_TRUE(FakeApp().exceptions.empty());
}

TEST_F(BackupRunTest, StartFailureAndEmptyDatabase) {
    dbl->Fail("isc_service_start", 336330762, -901, {"refused"});
    TickAt(2026, 12, 7, 10, 0);
    form->Edit2->setText("");
    form->StartButton->click();
    size_t mark = LogMessages().size();
    TickAt(2026, 12, 7, 10, 5);
    Msgs all = LogMessages();
    EXPECT_EQ(Msgs(all.begin() + static_cast<long>(base_log),
                   all.begin() + static_cast<long>(base_log) + 4),
              (Msgs{"備份條件符合", "開始備份/var/bak/1000.gbk", "資料庫 /data/x.fdb 服務啟動失敗",
                    "refused"}));
    const Msgs empty_database = Msgs(all.begin() + static_cast<long>(mark), all.end());
    ASSERT_EQ(empty_database.size(), 4u);
    EXPECT_EQ(Msgs(empty_database.begin(), empty_database.begin() + 3),
              (Msgs{"備份條件符合", "開始備份/var/bak/1005.gbk", "資料庫  服務啟動失敗"}));
    EXPECT_TRUE(form->IBBackupService1->Active());  // an empty database: refused before sending
    TickAt(2026, 12, 7, 10, 10);                    // the next run closes it first
    all = LogMessages();
    EXPECT_EQ(all[all.size() - 2], "資料庫  服務啟動失敗");
}

TEST_F(BackupRunTest, FollowedBackupsEndWithTheirOutcome) {
    FakeDesktopNotifications desktop;
    SetDesktopNotifications(&desktop);
    // Finished: a detach that fails after the outcome is known adds nothing.
    dbl->Fail("isc_service_detach", 335544721, -902, {"lost"});
    TickAt(2026, 12, 7, 10, 0);
    EXPECT_FALSE(form->IBBackupService1->Active());
    // Failed on the server: its text on one line, and the desktop hears of it.
    dbl->Running(1);
    dbl->Fail("isc_service_query", 335544344, -902,
              {"I/O error during \"open\" operation for file \"/data/x.fdb\"",
               "Error while trying to open file", "No such file or directory"});
    TickAt(2026, 12, 7, 10, 5);
    // A due minute while the previous backup still runs starts nothing.
    dbl->Running(1000);
    clock.Set(2026, 12, 7, 10, 10, 0, 500);
    form->Timer1Timer();
    clock.Set(2026, 12, 7, 10, 15, 0, 500);
    form->Timer1Timer();
    const std::string failed =
        "備份失敗/var/bak/1005.gbk:I/O error during \"open\" operation for file \"/data/x.fdb\" "
        "Error while trying to open file No such file or directory";
    EXPECT_EQ(NewLog(),
              (Msgs{"備份條件符合", "開始備份/var/bak/1000.gbk", "備份結束...",
                    "備份完成/var/bak/1000.gbk", "備份條件符合", "開始備份/var/bak/1005.gbk",
                    "備份結束...", failed, "備份條件符合", "開始備份/var/bak/1010.gbk",
                    "備份結束...", "備份條件符合", "前次備份尚未結束"}));
    EXPECT_EQ(desktop.shown,
              (std::vector<std::pair<std::string, std::string>>{{"Quorvane", failed}}));
    // Ending while it is followed: logged, the attachment closed, then the usual last line.
    form->FormClose();
    EXPECT_FALSE(form->FollowingBackup());
    EXPECT_EQ(dbl->OpenHandles(), 0);
    Msgs all = LogMessages();
    EXPECT_EQ(Msgs(all.end() - 2, all.end()),
              (Msgs{"程式結束時備份仍在進行/var/bak/1010.gbk", "系統結束"}));
    // A backup that has ended when the program ends, its report not yet handled: its line.
    dbl->Reset();
    form->StartButton->click();
    clock.Set(2026, 12, 7, 10, 20, 0, 500);
    form->Timer1Timer();
    for (int i = 0; i < 500 && dbl->OpenHandles() > 0; ++i) QThread::msleep(5);
    form->FormClose();
    all = LogMessages();
    EXPECT_EQ(Msgs(all.end() - 2, all.end()), (Msgs{"備份完成/var/bak/1020.gbk", "系統結束"}));
    SetDesktopNotifications(nullptr);
}

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

TEST_F(BackupRunTest, AFailingCloseOfALeftOverConnectionFailsOnlyThatRun) {
    LeaveAConnectionThatWillNotClose();
    TickAt(2026, 12, 7, 10, 5);
    EXPECT_TRUE(FakeApp().exceptions.empty());  // nothing escaped the tick
    EXPECT_FALSE(form->IBBackupService1->Active());
    TickAt(2026, 12, 7, 10, 10);
    EXPECT_EQ(NewLog(),
              (Msgs{"備份條件符合", "資料庫 /data/x.fdb 服務啟動失敗", "gone", "備份條件符合",
                    "開始備份/var/bak/1010.gbk", "備份結束...", "備份完成/var/bak/1010.gbk"}));
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
    LeaveAConnectionThatWillNotClose();
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
