// Due minutes and their runs as the engine keeps them for both programs: the lines, their
// priorities, the log, the state, the backup's name and the requests the client library sees.
#include "engine/ScheduleKeeper.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <filesystem>

#include "FakeHttpPost.h"
#include "engine/KeeperFixture.h"
#include "engine/Pinger.h"

namespace qv::test {
namespace {

using KeeperTest = KeeperFixture;
constexpr TLinePriority kInfo = TLinePriority::Info;

TEST_F(KeeperTest, ADueMinuteIsLoggedHeardAndShownInTheState) {
    StartUp();
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
    dbl->Fail("isc_service_attach", 335544721, -902,
              {"Unable to complete network request", "Failed to establish a connection"});
    TickAt(10, 5);
    // The server's texts on one line, under the failure line.
    const std::string reason =
        "Unable to complete network request Failed to establish a connection";
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1], (std::pair<std::string, TLinePriority>{
                            "資料庫 /data/x.fdb 服務啟動失敗\n" + reason, TLinePriority::Failure}));
    EXPECT_EQ(LogMessages(), (Msgs{"備份條件符合", "資料庫 /data/x.fdb 服務啟動失敗", reason}));
    const std::string log = ReadFile(dir / "PROC_LOG.TXT");
    EXPECT_NE(log.find(":資料庫 /data/x.fdb 服務啟動失敗\r\n20261207.100500:Unable to complete"),
              std::string::npos);
    EXPECT_TRUE(FakeApp().messages.empty());  // no box, nothing left for the message loop
    EXPECT_TRUE(FakeApp().exceptions.empty());
    // The state shows the failure line, not its reason.
    EXPECT_EQ(keeper->StateLines().front(),
              "上次備份 2026/12/07 10:05 資料庫 /data/x.fdb 服務啟動失敗");

    armed = false;
    heard.clear();
    TickAt(10, 10);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(keeper->StateLines().back(), "下次備份 無");
}

TEST_F(KeeperTest, DayNamesForSpecificTimeEveryDay) {
    settings.time_mode = 7;
    settings.backup_time = "0200";
    TickOn(2027, 3, 7, 2, 0);
    EXPECT_EQ(RequestedFile(*dbl), "/var/bak/Day07.gbk");
    EXPECT_EQ(LogMessages(), (Msgs{"備份條件符合", "開始備份/var/bak/Day07.gbk", "備份結束...",
                                   "備份完成/var/bak/Day07.gbk"}));
    TickOn(2027, 3, 31, 2, 0);
    EXPECT_EQ(RequestedFile(*dbl), "/var/bak/Day31.gbk");
    EXPECT_FALSE(service->Active());
    auto calls = dbl->ServiceCalls();
    EXPECT_EQ(calls.at(0).data, "dbhost:service_mgr");
    EXPECT_EQ(Bytes(calls.at(0).spb), Cat({{2, 2, 0x1C, 6}, Bytes("SYSDBA"), {0x1D, 2, 'p', 'w'}}));
}

TEST_F(KeeperTest, WeekNamesForSpecificTimeOnOtherDateModes) {
    settings.time_mode = 7;
    settings.backup_time = "0200";
    // Every date mode but "every day" names the file by the day of the week.
    const struct {
        int mode, day;
        const char* file;
    } cases[] = {
        {1, 9, "Week4"}, {2, 12, "Week7"}, {3, 13, "Week1"}, {4, 13, "Week1"}, {4, 12, "Week7"}};
    for (auto& c : cases) {
        settings.date_mode = c.mode;
        TickOn(2026, 12, c.day, 2, 0);
        EXPECT_EQ(RequestedFile(*dbl), std::string("/var/bak/") + c.file + ".gbk") << c.mode;
    }
}

TEST_F(KeeperTest, TickNamesAndManualNames) {
    settings.time_mode = 2;
    TickOn(2026, 12, 7, 13, 30);
    EXPECT_EQ(RequestedFile(*dbl), "/var/bak/1330.gbk");
    settings.naming_mode = 1;
    settings.backup_name = "nightly copy ";
    TickOn(2026, 12, 7, 14, 0);
    EXPECT_EQ(RequestedFile(*dbl), "/var/bak/nightly copy .gbk");  // untrimmed
}

TEST_F(KeeperTest, DirectoryPartAndSeparators) {
    const struct {
        const char* dir;
        const char* file;
    } cases[] = {{"  /var/bak/  ", "/var/bak/1000.gbk"},
                 {"D:\\BAK", "D:\\BAK\\1000.gbk"},
                 {"D:\\BAK\\", "D:\\BAK\\1000.gbk"},
                 {" C:\\ ", "C:\\1000.gbk"},
                 {"\\\\nas\\bak", "\\\\nas\\bak\\1000.gbk"}};
    for (auto& c : cases) {
        settings.backup_dir = c.dir;
        TickOn(2026, 12, 7, 10, 0);
        EXPECT_EQ(RequestedFile(*dbl), c.file) << "'" << c.dir << "'";
    }
    // A directory the server would take as relative to its own working directory (a reboot may
    // empty it) fails the due minute with its reason; nothing reaches the server.
    for (const char* dir : {"backups/daily", "", "   ", "C:bak"}) {
        settings.backup_dir = dir;
        dbl->Reset();
        TickOn(2026, 12, 7, 10, 5);
        EXPECT_TRUE(dbl->ServiceCalls().empty()) << "'" << dir << "'";
        const Msgs log = LogMessages();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], "資料庫 /data/x.fdb 服務啟動失敗") << "'" << dir << "'";
        EXPECT_EQ(log.back().rfind("備份路徑", 0) == 0 || log.back().rfind("沒有備份路徑", 0) == 0,
                  true)
            << log.back();
    }
}

TEST_F(KeeperTest, ProtocolWithoutSelectionKeepsTheLastOne) {
    settings.protocol = -1;
    TickOn(2026, 12, 7, 10, 0);
    EXPECT_EQ(dbl->ServiceCalls().back().name, "isc_service_detach");
    EXPECT_EQ(service->Protocol(), TProtocol::TCP);
    settings.protocol = 0;
    TickOn(2026, 12, 7, 10, 5);
    EXPECT_EQ(service->Protocol(), TProtocol::Local);
    settings.protocol = -1;
    TickOn(2026, 12, 7, 10, 10);
    std::vector<std::string> services;
    for (auto& c : dbl->ServiceCalls())
        if (c.name == "isc_service_attach") services.push_back(c.data);
    EXPECT_EQ(services, (Msgs{"dbhost:service_mgr", "service_mgr", "service_mgr"}));
}

TEST_F(KeeperTest, StartFailureAndEmptyDatabase) {
    dbl->Fail("isc_service_start", 336330762, -901, {"refused"});
    TickOn(2026, 12, 7, 10, 0);
    settings.database_name = "";
    const size_t mark = LogMessages().size();
    TickOn(2026, 12, 7, 10, 5);
    Msgs all = LogMessages();
    EXPECT_EQ(Msgs(all.begin(), all.begin() + 4),
              (Msgs{"備份條件符合", "開始備份/var/bak/1000.gbk", "資料庫 /data/x.fdb 服務啟動失敗",
                    "refused"}));
    const Msgs empty_database = Msgs(all.begin() + static_cast<long>(mark), all.end());
    ASSERT_EQ(empty_database.size(), 4u);
    EXPECT_EQ(Msgs(empty_database.begin(), empty_database.begin() + 3),
              (Msgs{"備份條件符合", "開始備份/var/bak/1005.gbk", "資料庫  服務啟動失敗"}));
    EXPECT_TRUE(service->Active());  // an empty database: refused before sending
    TickOn(2026, 12, 7, 10, 10);     // the next run closes it first
    all = LogMessages();
    EXPECT_EQ(all[all.size() - 2], "資料庫  服務啟動失敗");
}

TEST_F(KeeperTest, FollowedBackupsEndWithTheirOutcome) {
    // Finished: a detach that fails after the outcome is known adds nothing.
    dbl->Fail("isc_service_detach", 335544721, -902, {"lost"});
    TickOn(2026, 12, 7, 10, 0);
    EXPECT_FALSE(service->Active());
    // Failed on the server: its text on one line, heard as a failure (the window shows it).
    dbl->Running(1);
    dbl->Fail("isc_service_query", 335544344, -902,
              {"I/O error during \"open\" operation for file \"/data/x.fdb\"",
               "Error while trying to open file", "No such file or directory"});
    TickOn(2026, 12, 7, 10, 5);
    // A due minute while the previous backup still runs starts nothing.
    dbl->Running(1000);
    clock.Set(2026, 12, 7, 10, 10, 0, 500);
    keeper->Tick();
    clock.Set(2026, 12, 7, 10, 15, 0, 500);
    keeper->Tick();
    const std::string failed =
        "備份失敗/var/bak/1005.gbk:I/O error during \"open\" operation for file \"/data/x.fdb\" "
        "Error while trying to open file No such file or directory";
    EXPECT_EQ(LogMessages(),
              (Msgs{"備份條件符合", "開始備份/var/bak/1000.gbk", "備份結束...",
                    "備份完成/var/bak/1000.gbk", "備份條件符合", "開始備份/var/bak/1005.gbk",
                    "備份結束...", failed, "備份條件符合", "開始備份/var/bak/1010.gbk",
                    "備份結束...", "備份條件符合", "前次備份尚未結束"}));
    Msgs failures;
    for (const auto& [message, priority] : heard)
        if (priority == TLinePriority::Failure) failures.push_back(message);
    EXPECT_EQ(failures, Msgs{failed});
    // Ending while it is followed: logged, the attachment closed, then the usual last line.
    keeper->Close();
    EXPECT_FALSE(keeper->Busy());
    EXPECT_EQ(dbl->OpenHandles(), 0);
    Msgs all = LogMessages();
    EXPECT_EQ(Msgs(all.end() - 2, all.end()),
              (Msgs{"程式結束時備份仍在進行/var/bak/1010.gbk", "系統結束"}));
    // A backup that has ended when the program ends, its report not yet handled: its line.
    dbl->Reset();
    clock.Set(2026, 12, 7, 10, 20, 0, 500);
    keeper->Tick();
    for (int i = 0; i < 500 && dbl->OpenHandles() > 0; ++i) QThread::msleep(5);
    keeper->Close();
    all = LogMessages();
    EXPECT_EQ(Msgs(all.end() - 2, all.end()), (Msgs{"備份完成/var/bak/1020.gbk", "系統結束"}));
}

TEST_F(KeeperTest, AFailingCloseOfALeftOverConnectionFailsOnlyThatRun) {
    LeaveAConnectionThatWillNotClose(*service, *dbl);
    EXPECT_NO_THROW(TickOn(2026, 12, 7, 10, 5));  // nothing escapes the tick
    EXPECT_FALSE(service->Active());
    TickOn(2026, 12, 7, 10, 10);
    EXPECT_EQ(LogMessages(),
              (Msgs{"備份條件符合", "資料庫 /data/x.fdb 服務啟動失敗", "gone", "備份條件符合",
                    "開始備份/var/bak/1010.gbk", "備份結束...", "備份完成/var/bak/1010.gbk"}));
}

// Blocks every request until the pinger stops it: a monitoring service that never answers.
class NeverAnswers : public IHttpPost {
public:
    THttpResult Post(const std::string& url, const std::string&, const THttpLimits&,
                     const std::atomic<bool>& stop) override {
        urls.push_back(url);
        while (!stop) QThread::msleep(5);
        return {false, 0, "stopped"};
    }
    std::vector<std::string> urls;
};

// The alerts from the runs and gaps the keeper sees: pings in order with the last line, the hook
// with the outcome, the metrics after each; a ping that hangs delays no run.
TEST_F(KeeperTest, EveryRunAndEveryGapReachesTheAlerts) {
    auto http = std::make_unique<FakeHttpPost>();
    FakeHttpPost& pings = *http;
    keeper->Alerts().SetPinger(std::make_unique<TPinger>(
        [this](const std::string& line) { keeper->Log(line, TLinePriority::Warning); },
        std::move(http)));
    settings.ping_url = "https://hc.example/ping/abc";
    settings.hook_cmd =
        "printf '%s|%s|%s|%s|%s|%s\\n' \"$QUORVANE_OUTCOME\" \"$QUORVANE_LINE\" "
        "\"$QUORVANE_FILE\" \"$QUORVANE_STARTED\" \"$QUORVANE_BYTES\" "
        "\"$QUORVANE_VERIFIED\" >>" +
        dir.path() + "/hook.txt";
    settings.metrics_file = dir.path() + "/quorvane.prom";
    // Start-up writes the metrics; the run history only once a counter changes.
    StartUp();
    EXPECT_NE(ReadFile(dir / "quorvane.prom").find("quorvane_next_due_timestamp_seconds"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / kRunHistoryFileName));
    TickAt(10, 5);
    dbl->Running(1);
    dbl->Fail("isc_service_query", 335544344, -902, {"no such database"});
    TickAt(10, 10);
    dbl->Reset();
    TickAt(10, 31);  // 10:15 to 10:30 passed unchecked: made up at once
    ASSERT_TRUE(keeper->WaitForAlerts(5000));
    const std::string failed = "備份失敗/var/bak/1010.gbk:no such database";
    std::vector<std::pair<std::string, std::string>> sent;
    for (const auto& c : pings.Calls()) sent.emplace_back(c.url, c.body);
    EXPECT_EQ(sent, (std::vector<std::pair<std::string, std::string>>{
                        {"https://hc.example/ping/abc/start", ""},
                        {"https://hc.example/ping/abc", "備份完成/var/bak/1005.gbk"},
                        {"https://hc.example/ping/abc/start", ""},
                        {"https://hc.example/ping/abc/fail", failed},
                        {"https://hc.example/ping/abc/start", ""},
                        {"https://hc.example/ping/abc", "備份完成/var/bak/1031.gbk"}}));
    const int64_t at_1031 = clock.Read().utc_ms / 1000;
    auto at = [&](int minutes_before) { return std::to_string(at_1031 - minutes_before * 60); };
    EXPECT_EQ(ReadFile(dir / "hook.txt"),
              "success|備份完成/var/bak/1005.gbk|/var/bak/1005.gbk|" + at(26) + "||\n" +
                  "failure|" + failed + "|/var/bak/1010.gbk|" + at(21) + "||\n" +
                  "missed|錯過備份時間 2026/12/07 10:30 等 4 次||" + at(0) + "||\n" +
                  "success|備份完成/var/bak/1031.gbk|/var/bak/1031.gbk|" + at(0) + "||\n");
    const std::string metrics = ReadFile(dir / "quorvane.prom");
    EXPECT_NE(metrics.find("quorvane_runs_total{database=\"/data/x.fdb\",outcome=\"failure\"} 1"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("quorvane_missed_total{database=\"/data/x.fdb\"} 4"), std::string::npos);

    // A monitoring service that never answers: the next due minute runs on time all the same.
    auto never = std::make_unique<NeverAnswers>();
    NeverAnswers& stuck = *never;
    keeper->Alerts().SetPinger(
        std::make_unique<TPinger>([](const std::string&) {}, std::move(never)));
    dbl->Reset();
    clock.Set(2026, 12, 7, 10, 35, 0, 500);
    QElapsedTimer took;
    took.start();
    keeper->Tick();
    Settle();
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(LogMessages().back(), "備份完成/var/bak/1035.gbk");
    EXPECT_FALSE(stuck.urls.empty());

    // A restart: the counters are kept, and the file is written again at start-up.
    NewKeeper();
    std::filesystem::remove(dir / "quorvane.prom");
    StartUp();
    const std::string again = ReadFile(dir / "quorvane.prom");
    EXPECT_NE(again.find("quorvane_runs_total{database=\"/data/x.fdb\",outcome=\"success\"} 3"),
              std::string::npos)
        << again;
    EXPECT_NE(again.find("quorvane_missed_total{database=\"/data/x.fdb\"} 4"), std::string::npos);
}

}  // namespace
}  // namespace qv::test
