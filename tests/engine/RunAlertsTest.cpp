// The alerts a run's end sets off beside the log: HOOKCMD, a real /bin/sh command with the
// outcome in its environment, and METRICSFILE, checked by Prometheus's own promtool.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "engine/RunHook.h"

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
    heard.clear();
    hook->Run("printf 'a\\r\\nb'", Outcome(TOutcomeKind::Failure), "");
    ASSERT_TRUE(hook->WaitIdle(10000));
    EXPECT_EQ(heard, (Heard{{"HOOKCMD 輸出:a", kInfo}, {"HOOKCMD 輸出:b", kInfo}}));
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

}  // namespace
}  // namespace qv::test
