// The alerts a run's end sets off beside the log: HOOKCMD, a real /bin/sh command with the
// outcome in its environment, and METRICSFILE, checked by Prometheus's own promtool.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "engine/RunHook.h"
#include "engine/RunMetrics.h"
#include "platform/Files.h"

namespace qv::test {
namespace {

using Heard = std::vector<std::pair<std::string, TLinePriority>>;
constexpr TLinePriority kInfo = TLinePriority::Info;
constexpr TLinePriority kWarning = TLinePriority::Warning;

TRunOutcome Outcome(TOutcomeKind kind) {
    TRunOutcome o;
    o.kind = kind;
    o.database = "/data/sales.fdb";
    o.server = "dbhost";
    o.started = 1796637600;
    o.ended = 1796637642;
    if (kind == TOutcomeKind::Success) {
        o.line = "備份完成/var/bak/1005.gbk";
        o.file = "/var/bak/1005.gbk";
        o.bytes = 123456789;
        o.verified = true;
    } else if (kind == TOutcomeKind::Failure) {
        o.line = "資料庫 /data/sales.fdb 服務啟動失敗";
        o.file = "/var/bak/1005.gbk";
        o.verified = false;
    } else {
        o.line = "錯過備份時間 2026/12/07 10:05 等 3 次";
        o.started = o.ended = 1796637900;
    }
    return o;
}

class HookTest : public ::testing::Test {
protected:
    TempDir dir;
    Heard heard;
    std::unique_ptr<TRunHook> hook = std::make_unique<TRunHook>(
        [this](const std::string& m, TLinePriority p) { heard.emplace_back(m, p); });

    // Whether the process is gone (or dead and waiting to be reaped) within 2 s: a killed
    // process takes a moment to die.
    static bool Gone(const std::string& pid_text) {
        QElapsedTimer t;
        t.start();
        do {
            const std::string stat = ReadFile("/proc/" + Trim(pid_text) + "/stat");
            const size_t paren = stat.rfind(')');
            if (stat.empty() || (paren != std::string::npos && stat.substr(paren + 2, 1) == "Z"))
                return true;
            usleep(10000);
        } while (t.elapsed() < 2000);
        kill(std::stoi(pid_text), SIGKILL);  // a failed test leaves nothing running either
        return false;
    }
    static std::string Trim(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }
    void WaitForFile(const std::string& file) {
        QElapsedTimer t;
        t.start();
        while (ReadFile(file).empty() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
};

TEST_F(HookTest, EachOutcomeInTheEnvironmentOneHookAtATime) {
    const std::string cmd =
        "echo begin >> '" + dir / "order" + "'; env | grep ^QUORVANE_ | sort > '" + dir.path() +
        "/env.'$QUORVANE_OUTCOME; sleep 0.2; echo end >> '" + dir / "order" + "'";
    for (TOutcomeKind kind : {TOutcomeKind::Success, TOutcomeKind::Failure, TOutcomeKind::Missed})
        hook->Run(cmd, Outcome(kind), "");
    EXPECT_TRUE(hook->Busy());  // Run never waits
    ASSERT_TRUE(hook->WaitIdle(10000));
    EXPECT_TRUE(heard.empty());
    // Never two at once, and none lost.
    EXPECT_EQ(ReadFile(dir / "order"), "begin\nend\nbegin\nend\nbegin\nend\n");
    EXPECT_EQ(ReadFile(dir / "env.success"),
              "QUORVANE_BYTES=123456789\n"
              "QUORVANE_DATABASE=/data/sales.fdb\n"
              "QUORVANE_ENDED=1796637642\n"
              "QUORVANE_FILE=/var/bak/1005.gbk\n"
              "QUORVANE_LINE=備份完成/var/bak/1005.gbk\n"
              "QUORVANE_OUTCOME=success\n"
              "QUORVANE_SERVER=dbhost\n"
              "QUORVANE_STARTED=1796637600\n"
              "QUORVANE_VERIFIED=1\n");
    EXPECT_EQ(ReadFile(dir / "env.failure"),
              "QUORVANE_BYTES=\n"
              "QUORVANE_DATABASE=/data/sales.fdb\n"
              "QUORVANE_ENDED=1796637642\n"
              "QUORVANE_FILE=/var/bak/1005.gbk\n"
              "QUORVANE_LINE=資料庫 /data/sales.fdb 服務啟動失敗\n"
              "QUORVANE_OUTCOME=failure\n"
              "QUORVANE_SERVER=dbhost\n"
              "QUORVANE_STARTED=1796637600\n"
              "QUORVANE_VERIFIED=0\n");
    EXPECT_EQ(ReadFile(dir / "env.missed"),
              "QUORVANE_BYTES=\n"
              "QUORVANE_DATABASE=/data/sales.fdb\n"
              "QUORVANE_ENDED=1796637900\n"
              "QUORVANE_FILE=\n"
              "QUORVANE_LINE=錯過備份時間 2026/12/07 10:05 等 3 次\n"
              "QUORVANE_OUTCOME=missed\n"
              "QUORVANE_SERVER=dbhost\n"
              "QUORVANE_STARTED=1796637900\n"
              "QUORVANE_VERIFIED=\n");
}

TEST_F(HookTest, OutputLinesInOrderBoundedAndANonZeroExit) {
    // stdin is empty: `cat` ends at once.
    hook->Run("cat; echo one; echo two >&2; seq 3 30; printf 'last'; exit 3",
              Outcome(TOutcomeKind::Success), "");
    ASSERT_TRUE(hook->WaitIdle(10000));
    Heard expected{{"HOOKCMD 輸出:one", kInfo}, {"HOOKCMD 輸出:two", kInfo}};
    for (int i = 3; i <= 20; ++i) expected.emplace_back("HOOKCMD 輸出:" + std::to_string(i), kInfo);
    expected.emplace_back("HOOKCMD 輸出過多，其餘省略", kInfo);
    expected.emplace_back("HOOKCMD 結束代碼 3", kWarning);
    EXPECT_EQ(heard, expected);

    // The next run counts its own lines; an output without a final line break still ends a line.
    // A pipe's writer ends quietly when its reader has gone, even if this program ignores SIGPIPE
    // (as the client library may).
    heard.clear();
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    hook->Run("yes | head -n 1; printf 'a\\r\\nb'", Outcome(TOutcomeKind::Failure), "");
    sigaction(SIGPIPE, &before, nullptr);
    ASSERT_TRUE(hook->WaitIdle(10000));
    EXPECT_EQ(
        heard,
        (Heard{{"HOOKCMD 輸出:y", kInfo}, {"HOOKCMD 輸出:a", kInfo}, {"HOOKCMD 輸出:b", kInfo}}));
}

TEST_F(HookTest, AHookOverItsTimeIsKilledWithAllItStarted) {
    hook->time_limit_ms = 300;
    hook->Run(
        "sleep 120 & echo $! > '" + dir / "child" + "'; echo $$ > '" + dir / "shell" + "'; wait",
        Outcome(TOutcomeKind::Failure), "");
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(hook->WaitIdle(10000));
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(heard, (Heard{{"HOOKCMD 執行超過 60 秒，已終止", kWarning}}));
    ASSERT_FALSE(ReadFile(dir / "child").empty());
    EXPECT_TRUE(Gone(ReadFile(dir / "shell")));
    EXPECT_TRUE(Gone(ReadFile(dir / "child")));
}

TEST_F(HookTest, TheEndOfTheProgramKillsARunningHook) {
    hook->Run("sleep 120 & echo $! > '" + dir / "child" + "'; wait", Outcome(TOutcomeKind::Success),
              "");
    WaitForFile(dir / "child");
    ASSERT_FALSE(ReadFile(dir / "child").empty());
    hook.reset();
    EXPECT_TRUE(Gone(ReadFile(dir / "child")));
    EXPECT_TRUE(heard.empty());
}

TEST_F(HookTest, ASettingsFileOthersMayWriteIsRefused) {
    const std::string settings = dir / "sales.ini";
    WriteFile(settings, "[Para]\n");
    const std::string cmd = "echo ran >> '" + dir / "ran" + "'";
    chmod(settings.c_str(), 0646);
    hook->Run(cmd, Outcome(TOutcomeKind::Failure), settings);
    chmod(settings.c_str(), 0620);
    hook->Run(cmd, Outcome(TOutcomeKind::Failure), settings);
    EXPECT_FALSE(hook->Busy());
    const std::string refusal = "不執行 HOOKCMD：設定檔 " + settings + " 可由其他使用者寫入";
    EXPECT_EQ(heard, (Heard{{refusal, TLinePriority::Failure}, {refusal, TLinePriority::Failure}}));
    chmod(settings.c_str(), 0600);
    hook->Run(cmd, Outcome(TOutcomeKind::Failure), settings);
    ASSERT_TRUE(hook->WaitIdle(10000));
    EXPECT_EQ(ReadFile(dir / "ran"), "ran\n");
    EXPECT_EQ(heard.size(), 2u);
}

TEST_F(HookTest, WaitingHooksAreBoundedAndAShellThatCannotStartIsAWarning) {
    // One runs, ten wait; the eleventh waiting drops the oldest.
    for (int i = 1; i <= 12; ++i) {
        TRunOutcome o = Outcome(TOutcomeKind::Missed);
        o.line = std::to_string(i);
        hook->Run((i == 1 ? "sleep 0.3; " : "") + std::string("echo $QUORVANE_LINE >> '") +
                      dir / "lines" + "'",
                  o, "");
    }
    EXPECT_EQ(heard, (Heard{{"HOOKCMD 等待執行的太多，略過較早的一次（missed）", kWarning}}));
    ASSERT_TRUE(hook->WaitIdle(20000));
    EXPECT_EQ(ReadFile(dir / "lines"), "1\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n");

    heard.clear();
    hook->shell = dir / "no-such-shell";
    hook->Run("true", Outcome(TOutcomeKind::Success), "");
    hook->Run("true", Outcome(TOutcomeKind::Failure), "");
    ASSERT_TRUE(hook->WaitIdle(10000));
    ASSERT_EQ(heard.size(), 2u);
    for (auto& [line, priority] : heard) {
        EXPECT_TRUE(line.starts_with("無法執行 HOOKCMD:")) << line;
        EXPECT_GT(line.size(), std::string("無法執行 HOOKCMD:").size());
        EXPECT_EQ(priority, kWarning);
    }
}

// promtool's verdict on a metrics file: its output, and "exit N" when it did not pass.
std::string Promtool(const std::string& file) {
    std::string out;
    FILE* p = popen(("promtool check metrics < '" + file + "' 2>&1").c_str(), "r");
    if (!p) return "promtool did not start";
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = pclose(p);
    if (status != 0) out += "exit " + std::to_string(WEXITSTATUS(status));
    return out;
}

TEST(RunMetrics, TheTextFileAfterSuccessFailureAndARestartPassesPromtool) {
    TempDir dir;
    const std::string prom = dir / "quorvane_sales.prom";
    const std::string runs = dir / kRunHistoryFileName;
    const std::string db = "/data/s\"a\\les\n.fdb";
    TRunHistory history = LoadRunHistory(runs);

    // Before any run: the counters from 0, the last success at 0, no gauge that is not known.
    const std::string labels = "{database=\"/data/s\\\"a\\\\les\\n.fdb\",instance=\"sales\"}";
    EXPECT_EQ(MetricsText(history, db, "sales", std::nullopt),
              "# HELP quorvane_last_success_timestamp_seconds When the last successful backup "
              "run ended, in seconds since the epoch; 0 when none has succeeded.\n"
              "# TYPE quorvane_last_success_timestamp_seconds gauge\n"
              "quorvane_last_success_timestamp_seconds" +
                  labels +
                  " 0\n"
                  "# HELP quorvane_runs_total Backup runs that ended, by outcome.\n"
                  "# TYPE quorvane_runs_total counter\n"
                  "quorvane_runs_total{database=\"/data/s\\\"a\\\\les\\n.fdb\",instance=\"sales\","
                  "outcome=\"success\"} 0\n"
                  "quorvane_runs_total{database=\"/data/s\\\"a\\\\les\\n.fdb\",instance=\"sales\","
                  "outcome=\"failure\"} 0\n"
                  "# HELP quorvane_missed_total Due backup times that passed unchecked.\n"
                  "# TYPE quorvane_missed_total counter\n"
                  "quorvane_missed_total" +
                  labels + " 0\n");
    WriteFile(prom, "old");
    chmod(prom.c_str(), 0600);
    EXPECT_EQ(WriteMetricsFile(prom, MetricsText(history, db, "sales", std::nullopt)), "");
    EXPECT_EQ(Promtool(prom), "");
    struct stat st {};
    ASSERT_EQ(stat(prom.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);  // the collector reads it as another user

    history.Add(Outcome(TOutcomeKind::Success));
    const std::string after_success = MetricsText(history, "sales", "", 1796641200);
    EXPECT_EQ(after_success,
              "# HELP quorvane_last_run_timestamp_seconds When the last backup run ended, in "
              "seconds since the epoch.\n"
              "# TYPE quorvane_last_run_timestamp_seconds gauge\n"
              "quorvane_last_run_timestamp_seconds{database=\"sales\"} 1796637642\n"
              "# HELP quorvane_last_success_timestamp_seconds When the last successful backup "
              "run ended, in seconds since the epoch; 0 when none has succeeded.\n"
              "# TYPE quorvane_last_success_timestamp_seconds gauge\n"
              "quorvane_last_success_timestamp_seconds{database=\"sales\"} 1796637642\n"
              "# HELP quorvane_last_run_success Whether the last backup run succeeded (1) or "
              "failed (0).\n"
              "# TYPE quorvane_last_run_success gauge\n"
              "quorvane_last_run_success{database=\"sales\"} 1\n"
              "# HELP quorvane_last_backup_bytes The size of the last successful backup, in "
              "bytes.\n"
              "# TYPE quorvane_last_backup_bytes gauge\n"
              "quorvane_last_backup_bytes{database=\"sales\"} 123456789\n"
              "# HELP quorvane_last_run_duration_seconds How long the last backup run took.\n"
              "# TYPE quorvane_last_run_duration_seconds gauge\n"
              "quorvane_last_run_duration_seconds{database=\"sales\"} 42\n"
              "# HELP quorvane_last_verify_success Whether the last verification (a test "
              "restore of the backup) succeeded (1) or failed (0).\n"
              "# TYPE quorvane_last_verify_success gauge\n"
              "quorvane_last_verify_success{database=\"sales\"} 1\n"
              "# HELP quorvane_next_due_timestamp_seconds When the next backup is due, in "
              "seconds since the epoch.\n"
              "# TYPE quorvane_next_due_timestamp_seconds gauge\n"
              "quorvane_next_due_timestamp_seconds{database=\"sales\"} 1796641200\n"
              "# HELP quorvane_runs_total Backup runs that ended, by outcome.\n"
              "# TYPE quorvane_runs_total counter\n"
              "quorvane_runs_total{database=\"sales\",outcome=\"success\"} 1\n"
              "quorvane_runs_total{database=\"sales\",outcome=\"failure\"} 0\n"
              "# HELP quorvane_missed_total Due backup times that passed unchecked.\n"
              "# TYPE quorvane_missed_total counter\n"
              "quorvane_missed_total{database=\"sales\"} 0\n");
    EXPECT_EQ(WriteMetricsFile(prom, MetricsText(history, db, "sales", 1796641200)), "");
    EXPECT_EQ(Promtool(prom), "");

    // A failure later: its own time and duration, the success's time and size kept.
    TRunOutcome failure = Outcome(TOutcomeKind::Failure);
    failure.started = 1796641200;
    failure.ended = 1796641203;
    history.Add(failure);
    history.Add(Outcome(TOutcomeKind::Missed));
    history.AddMissed(2);
    const std::string after_failure = MetricsText(history, db, "sales", 1796644800);
    for (const std::string& sample : std::vector<std::string>{
             "quorvane_last_run_timestamp_seconds" + labels + " 1796641203\n",
             "quorvane_last_success_timestamp_seconds" + labels + " 1796637642\n",
             "quorvane_last_run_success" + labels + " 0\n",
             "quorvane_last_backup_bytes" + labels + " 123456789\n",
             "quorvane_last_run_duration_seconds" + labels + " 3\n",
             "quorvane_last_verify_success" + labels + " 0\n",
             "quorvane_missed_total" + labels + " 3\n", "outcome=\"success\"} 1\n",
             "outcome=\"failure\"} 1\n"})
        EXPECT_NE(after_failure.find(sample), std::string::npos) << sample;
    EXPECT_EQ(WriteMetricsFile(prom, after_failure), "");
    EXPECT_EQ(Promtool(prom), "");

    // A restart: the history comes back from its file, counters and all.
    EXPECT_EQ(SaveRunHistory(runs, history), "");
    EXPECT_EQ(ReadFile(runs),
              "runs_success=1\nruns_failure=1\nmissed=3\nlast_run=1796641203\n"
              "last_success=1796637642\nlast_run_success=0\nlast_bytes=123456789\n"
              "last_duration=3\nlast_verify=0\n");
    std::string warning = "unset";
    const TRunHistory reloaded = LoadRunHistory(runs, &warning);
    EXPECT_EQ(warning, "unset");
    EXPECT_EQ(MetricsText(reloaded, db, "sales", 1796644800), after_failure);
    // A successful run without verification (now off) clears the verification's gauge.
    TRunHistory next = reloaded;
    TRunOutcome unverified = Outcome(TOutcomeKind::Success);
    unverified.verified.reset();
    unverified.bytes.reset();
    next.Add(unverified);
    const std::string text = MetricsText(next, db, "sales", std::nullopt);
    EXPECT_EQ(text.find("quorvane_last_verify_success"), std::string::npos);
    EXPECT_EQ(text.find("quorvane_last_backup_bytes"), std::string::npos);
    EXPECT_NE(text.find("outcome=\"success\"} 2\n"), std::string::npos);
    // A damaged file loses only what it cannot tell.
    EXPECT_EQ(TRunHistory::Parse("runs_success=x\nruns_failure=4\nlast_run_success=2\n").Text(),
              "runs_success=0\nruns_failure=4\nmissed=0\n");
}

TEST(RunMetrics, ADirectoryThatCannotBeWrittenIsOneWarningLine) {
    TempDir dir;
    const std::string locked = dir / "locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // the other user may look inside
    const std::string prom = locked + "/quorvane.prom";
    // As another user when the tests run as root (who may write anywhere).
    EXPECT_EQ(RunAsNormalUser([&] {
                  EXPECT_EQ(WriteMetricsFile(prom, "x 1\n"),
                            "無法寫入 METRICSFILE " + prom + ":Permission denied");
                  EXPECT_EQ(SaveRunHistory(locked + "/PROC_RUNS.TXT", TRunHistory{}),
                            "無法寫入執行紀錄 " + locked + "/PROC_RUNS.TXT:Permission denied");
                  return static_cast<int>(::testing::Test::HasFailure());
              }),
              0);
    EXPECT_FALSE(FileExists(prom));
}

}  // namespace
}  // namespace qv::test
