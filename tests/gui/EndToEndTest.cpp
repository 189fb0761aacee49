// The whole program against the real local Firebird server: a due minute on the (injected)
// clock lets Timer1 fire, the server writes the backup, and it restores with every row.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <filesystem>

#include "FirebirdServer.h"
#include "FormFixture.h"

namespace qv::test {
namespace {

using Msgs = std::vector<std::string>;

class EndToEnd : public FormFixture {
protected:
    void SetUp() override {
        QV_REQUIRE_SERVER(server);
        FormFixture::SetUp();
        backup_dir = server.backup_dir + "/e2e-" + std::to_string(getpid());
        FirebirdServer::Run("install -d -o firebird -g firebird -m 0770 " + backup_dir);
        WriteIni("SERVERNAME=localhost\r\nDATABASENAME=" + server.sample_db +
                 "\r\nPASSWORD=" + server.password + "\r\nBACKUPDIR=" + backup_dir + "\r\n");
        Start();
    }
    void TearDown() override {
        FormFixture::TearDown();
        // A test that stopped or killed the server and failed before starting it again leaves
        // it running for the next one (the script does nothing when it answers).
        FirebirdServer::Run("bash " QV_SOURCE_DIR "/scripts/firebird-server.sh start --test");
        if (!backup_dir.empty()) std::filesystem::remove_all(backup_dir);
    }
    // Puts the clock a little before the minute and lets the real timer fire into it; returns
    // once the run has ended and, unless told not to wait, the backup's outcome is logged.
    // With `gap`, the clock has jumped to that minute (a machine waking from sleep).
    void LetTimerFireAt(int y, int mo, int d, int h, int mi, bool outcome = true,
                        bool gap = false) {
        clock.Set(y, mo, d, h, mi, 0, 0);
        if (!gap) NoGapBefore();
        clock.Advance(-800);
        clock.Run();
        size_t lines = LogMessages().size();
        form->Timer1->SetEnabled(true);  // re-armed from the clock
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            Msgs log = LogMessages();
            if (log.size() > lines + 1 && log.back() != "備份條件符合" &&
                log.back().rfind("開始備份", 0) != 0 && (!outcome || log.back() != "備份結束..."))
                break;
        }
    }
    Msgs Since(size_t mark) const {
        Msgs all = LogMessages();
        return Msgs(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
    }
    void ServerScript(const char* verb) {
        std::string out;
        int rc = FirebirdServer::Run(
            std::string("bash " QV_SOURCE_DIR "/scripts/firebird-server.sh ") + verb + " --test",
            &out);
        ASSERT_EQ(rc, 0) << out;
    }
    FirebirdServer server;
    std::string backup_dir;
};

TEST_F(EndToEnd, NamedBackupsAtTheirDueMinutesRestore) {
    struct Case {
        int date_mode, time_mode;
        const char* specific;
        int y, mo, d, h, mi;
        const char* name;
    } cases[] = {
        {0, 7, "0200", 2027, 3, 7, 2, 0, "Day07"},
        {1, 7, "0200", 2026, 12, 9, 2, 0, "Week4"},
        {0, 2, "0000", 2026, 12, 7, 13, 30, "1330"},
    };
    for (const Case& c : cases) {
        SelectUser(form->ComboBox2, c.date_mode);
        SelectUser(form->ComboBox4, c.time_mode);
        form->MaskEdit1->SetText(c.specific);
        form->StartButton->click();
        size_t mark = LogMessages().size();
        LetTimerFireAt(c.y, c.mo, c.d, c.h, c.mi);
        const std::string gbk = backup_dir + "/" + c.name + ".gbk";
        EXPECT_EQ(Since(mark),
                  (Msgs{"備份條件符合", "開始備份" + gbk, "備份結束...", "備份完成" + gbk}));
        EXPECT_EQ(server.RestoreAndCount(gbk, 0), server.sample_rows) << gbk;  // complete
    }
}

TEST_F(EndToEnd, ServerDownThenBackAgain) {
    form->StartButton->click();
    size_t mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 10, 0);
    ASSERT_EQ(Since(mark).back(), "備份完成" + backup_dir + "/1000.gbk");

    ServerScript("stop");
    mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 10, 5);
    const Msgs refused = Since(mark);
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(Msgs(refused.begin(), refused.begin() + 2),
              (Msgs{"備份條件符合", "資料庫 " + server.sample_db + " 服務啟動失敗"}));
    EXPECT_EQ(refused[2].rfind("Unable to complete network request to host", 0), 0u) << refused[2];
    form->Button1Click();
    EXPECT_EQ(FakeApp().messages.back().first, "服務連結失敗 !!");

    ServerScript("start");
    mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 10, 10);
    EXPECT_EQ(Since(mark), (Msgs{"備份條件符合", "開始備份" + backup_dir + "/1010.gbk",
                                 "備份結束...", "備份完成" + backup_dir + "/1010.gbk"}));
    EXPECT_EQ(server.RestoreAndCount(backup_dir + "/1010.gbk"), server.sample_rows);

    // Asleep over 10:15 and 10:20: woken at 10:22, one line and one backup made up at once.
    mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 10, 22, true, true);
    EXPECT_EQ(Since(mark), (Msgs{"錯過備份時間 2026/12/07 10:20 等 2 次", "備份條件符合",
                                 "開始備份" + backup_dir + "/1022.gbk", "備份結束...",
                                 "備份完成" + backup_dir + "/1022.gbk"}));
    EXPECT_EQ(server.RestoreAndCount(backup_dir + "/1022.gbk"), server.sample_rows);
}

TEST_F(EndToEnd, ServerDiesDuringALongBackupThenTheNextMinuteSucceeds) {
    form->Edit2->setText(QString::fromStdString(server.big_db));
    form->StartButton->click();
    const std::string gbk = backup_dir + "/1400.gbk";
    size_t mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 14, 0, false);
    ASSERT_EQ(Since(mark).back(), "備份結束...");
    ASSERT_TRUE(form->FollowingBackup());
    // A due minute while it runs starts nothing.
    LetTimerFireAt(2026, 12, 7, 14, 5, false);
    // The server dies once the file has appeared and grown: killed, so it cannot finish the
    // backup first (a stop may wait for it, or an idle-looking server may ignore the TERM).
    ASSERT_TRUE(FirebirdServer::WaitForFile(gbk, 20));
    for (int i = 0; i < 200 && std::filesystem::file_size(gbk) < 4u << 20; ++i) QThread::msleep(25);
    ServerScript("kill");
    SettleBackups(20000);  // the follower's next question fails
    Msgs log = Since(mark);
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(Msgs(log.begin(), log.begin() + 5),
              (Msgs{"備份條件符合", "開始備份" + gbk, "備份結束...", "備份條件符合",
                    "前次備份尚未結束"}));
    // A server that dies leaves the connection unreadable (a stopping one shuts it down).
    EXPECT_TRUE(log[5] == "備份失敗" + gbk + ":connection shutdown" ||
                log[5] == "備份失敗" + gbk + ":Error reading data from the connection")
        << log[5];
    ServerScript("start");
    form->Edit2->setText(QString::fromStdString(server.sample_db));
    form->StartButton->click();
    mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 14, 10);
    EXPECT_EQ(Since(mark).back(), "備份完成" + backup_dir + "/1410.gbk");
    EXPECT_EQ(server.RestoreAndCount(backup_dir + "/1410.gbk"), server.sample_rows);
}

// The copy on this machine (本機副本 alone): a server that dies mid-stream leaves no .part and
// the previous copy as it was; the next minute's copy is proven by a restore fed from here.
TEST_F(EndToEnd, ACopyHereIsWholeOrNotAtAllAndProvenFromHere) {
    const std::string copies = dir / "copies";
    std::filesystem::create_directory(copies);
    const std::string copy = copies + "/1400.gbk";
    WriteFile(copy, "the previous copy");
    form->Edit2->setText(QString::fromStdString(server.big_db));
    form->Edit4->setText("");
    form->Edit6->setText(QString::fromStdString(copies));
    form->StartButton->click();
    size_t mark = LogMessages().size();
    clock.Set(2026, 12, 7, 14, 0, 0, 0);
    NoGapBefore();
    clock.Advance(-800);
    clock.Run();
    form->Timer1->SetEnabled(true);
    // Killed once the stream has brought a few MiB: it cannot finish the backup first.
    const std::string part = copy + ".part";
    auto size_of = [](const std::string& f) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(f, ec);
        return ec ? 0u : size;
    };
    for (int i = 0; i < 1200 && size_of(part) < 4u << 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 25);
        QThread::msleep(25);
    }
    ASSERT_GE(size_of(part), 4u << 20);
    ServerScript("kill");
    SettleBackups(20000);
    Msgs log = Since(mark);
    ASSERT_EQ(log.size(), 3u) << log.back();
    EXPECT_EQ(Msgs(log.begin(), log.begin() + 2), (Msgs{"備份條件符合", "開始備份" + copy}));
    EXPECT_TRUE(log[2].starts_with("備份失敗" + copy + ":")) << log[2];
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_EQ(ReadFile(copy), "the previous copy");
    ServerScript("start");
    form->Edit2->setText(QString::fromStdString(server.sample_db));
    form->CheckBox2->setChecked(true);
    form->StartButton->click();
    mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 14, 10);
    SettleBackups(30000);
    const std::string next = copies + "/1410.gbk";
    EXPECT_EQ(Since(mark),
              (Msgs{"備份條件符合", "開始備份" + next, "備份完成" + next, "驗證完成" + next}));
    EXPECT_EQ(std::filesystem::status(next).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(EndToEnd, ServerKilledBetweenAttachAndStart) {
    form->StartButton->click();
    auto handler = form->IBBackupService1->OnAttach;
    form->IBBackupService1->OnAttach = [&](TIBCustomService* s) {
        ServerScript("stop");  // the server goes away after accepting the attachment
        handler(s);
    };
    size_t mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 11, 0);
    form->IBBackupService1->OnAttach = handler;
    const Msgs failed = Since(mark);
    ASSERT_EQ(failed.size(), 4u);  // the failure line, then the connection's end
    EXPECT_EQ(Msgs(failed.begin(), failed.begin() + 3),
              (Msgs{"備份條件符合", "開始備份" + backup_dir + "/1100.gbk",
                    "資料庫 " + server.sample_db + " 服務啟動失敗"}));
    EXPECT_FALSE(failed[3].empty());
    EXPECT_TRUE(FakeApp().exceptions.empty());
    ServerScript("start");
    mark = LogMessages().size();
    LetTimerFireAt(2026, 12, 7, 11, 5);
    EXPECT_EQ(Since(mark).back(), "備份完成" + backup_dir + "/1105.gbk");
    EXPECT_EQ(server.RestoreAndCount(backup_dir + "/1105.gbk"), server.sample_rows);
}

TEST_F(EndToEnd, ConnectionTestWritesNoBackup) {
    form->Button1Click();
    ASSERT_FALSE(FakeApp().messages.empty());
    EXPECT_EQ(FakeApp().messages.back(),
              (std::pair<std::string, std::string>{"服務連結成功 !!", "Quorvane"}));
    EXPECT_FALSE(FirebirdServer::WaitForFile(backup_dir + "/TEST.gbk", 2));
    EXPECT_FALSE(std::filesystem::exists("TEST.gbk"));
    EXPECT_EQ(LogMessages(), Msgs{"程式執行"});
}

}  // namespace
}  // namespace qv::test

namespace qv::test {
namespace {

TEST_F(FormFixture, AServerThatNeverAnswersFailsTheRunWithinFifteenSeconds) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    listen(fd, 4);  // accepts, never answers
    Start();
    form->Edit1->setText(QString("127.0.0.1/%1").arg(ntohs(a.sin_port)));
    form->Edit2->setText("/x.fdb");
    form->Edit4->setText("/bak");
    form->StartButton->click();
    clock.Set(2026, 12, 7, 10, 0, 0, 500);
    auto t0 = std::chrono::steady_clock::now();
    form->Timer1Timer();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    close(fd);
    EXPECT_LT(seconds, 15.0);
    std::vector<std::string> log = LogMessages();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "備份條件符合");
    EXPECT_EQ(log[log.size() - 2], "資料庫 /x.fdb 服務啟動失敗");
    EXPECT_FALSE(form->IBBackupService1->Active());
}

}  // namespace
}  // namespace qv::test
