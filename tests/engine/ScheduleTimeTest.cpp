// The schedule against simulated time: whole weeks, a clock set back, a suspended machine. Due
// minutes are counted by their names, not run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/KeeperFixture.h"

namespace qv::test {
namespace {

class TimeTest : public KeeperFixture {
protected:
    void SetUp() override {
        KeeperFixture::SetUp();
        CountRuns();
    }
    // Lets the one-minute timer run from `clock` until `minutes` ticks have passed, as the
    // timer does: it may wake up to early_ms before its delay has run out, then sleeps again
    // for as long as the keeper says the wake was early; every tick must find its minute begun.
    void Run(int minutes, int early_ms = 0) {
        for (int i = 0; i < minutes; ++i) {
            const int delay = keeper->NextDelay();
            clock.Advance(delay - std::min(delay, early_ms * (i % 3) / 2));
            for (int early; (early = keeper->EarlyBy()) > 0;) clock.Advance(early);
            ASSERT_EQ(clock.Now().second * 1000 + clock.Now().millisecond, 0) << "tick " << i;
            keeper->Tick();
        }
    }
};

TEST_F(TimeTest, AWeekOfEveryDateModeAndTimeMode) {
    const int days_per_week[] = {7, 5, 1, 1, 2};
    const int fires_per_day[] = {288, 144, 48, 24, 8, 4, 2, 1};
    settings.backup_time = "0830";
    for (int date_mode = 0; date_mode < 5; ++date_mode)
        for (int time_mode = 0; time_mode < 8; ++time_mode) {
            settings.date_mode = date_mode;
            settings.time_mode = time_mode;
            runs.clear();
            clock.Set(2026, 12, 6, 23, 59, 59, 0);  // a second before Monday 7 December
            Run(7 * 24 * 60, 1500);                 // some wakes come up to 1.5 s early
            EXPECT_EQ(static_cast<int>(runs.size()),
                      days_per_week[date_mode] * fires_per_day[time_mode])
                << "date mode " << date_mode << ", time mode " << time_mode;
        }
    for (const std::string& line : LogMessages())  // no minute was ever missed
        ASSERT_EQ(line.find("錯過"), std::string::npos);
}

// The next due minute the state shows agrees with the tick's own decision, minute by minute,
// over a week across a month's and a year's end.
TEST_F(TimeTest, TheNextDueMinuteIsTheMinuteTheTickRuns) {
    settings.backup_time = "2330";
    for (int date_mode = 0; date_mode < 5; ++date_mode)
        for (int time_mode : {0, 4, 6, 7}) {
            settings.date_mode = date_mode;
            settings.time_mode = time_mode;
            runs.clear();
            clock.Set(2026, 12, 28, 23, 59, 59, 0);
            const TScheduleChoice choice = settings.Schedule();
            std::optional<LocalTime> next = NextDueMinute(choice, clock.Now());
            int agreed = 0;
            for (int i = 0; i < 7 * 24 * 60; ++i) {
                clock.Advance(keeper->NextDelay());
                for (int early; (early = keeper->EarlyBy()) > 0;) clock.Advance(early);
                const size_t before = runs.size();
                keeper->Tick();
                const bool ran = runs.size() > before;
                const bool predicted = next && SameMinute(*next, clock.Now());
                ASSERT_EQ(ran, predicted)
                    << MinuteText(clock.Now()) << " modes " << date_mode << "," << time_mode;
                if (ran) next = NextDueMinute(choice, clock.Now()), ++agreed;
            }
            EXPECT_EQ(agreed, static_cast<int>(runs.size()));
        }
}

TEST_F(TimeTest, DateModesDecideWhetherAnythingIsLogged) {
    settings.date_mode = 1;  // Monday to Friday
    // Armed afresh after each step of the clock: the days between are no missed minutes.
    clock.Set(2026, 12, 12, 10, 0, 0, 500);  // Saturday
    Arm();
    keeper->Tick();
    clock.Set(2026, 12, 13, 10, 0, 0, 500);  // Sunday
    Arm();
    keeper->Tick();
    EXPECT_TRUE(runs.empty());
    clock.Set(2026, 12, 14, 10, 0, 0, 500);  // Monday
    Arm();
    keeper->Tick();
    EXPECT_EQ(runs, Msgs{"1000"});
    EXPECT_EQ(LogMessages().back(), "備份條件符合");
    Stop();
    keeper->Tick();
    EXPECT_EQ(runs.size(), 1u);  // stopped: ticks do nothing
}

TEST_F(TimeTest, ASimulatedDayWithSlowTicksSeesEveryMinuteExactlyOnce) {
    StartUp();
    clock.Set(2026, 12, 7, 23, 59, 30, 0);
    std::map<std::string, int> seen;
    for (;;) {
        clock.Advance(keeper->NextDelay());  // the timer fires when its delay has run out,
        for (int early; (early = keeper->EarlyBy()) > 0;) clock.Advance(early);  // on its minute
        if (clock.Now().day != 8) break;
        keeper->Tick();
        ++seen[keeper->TickTime()];
        clock.Advance(40000);  // a tick whose work takes 40 seconds
    }
    EXPECT_EQ(seen.size(), 1440u);
    for (auto& [minute, count] : seen) EXPECT_EQ(count, 1) << minute;
    EXPECT_EQ(runs.size(), 288u);  // every 5 minutes
}

TEST_F(TimeTest, ASuspendedMachineMakesUpMissedMinutesOnce) {
    StartUp();  // every 5 minutes, every day
    clock.Set(2026, 12, 7, 9, 59, 59, 0);
    Run(1);  // 10:00 fires
    EXPECT_EQ(runs, Msgs{"1000"});
    // Asleep from 10:00 to 12:13:20: the late tick sees the gap, says so once and makes it up
    // once, named for the minute it runs in.
    clock.Set(2026, 12, 7, 12, 13, 20, 0);
    keeper->Tick();
    EXPECT_EQ(runs, (Msgs{"1000", "1213"}));
    Run(2);  // 12:14, 12:15
    EXPECT_EQ(runs, (Msgs{"1000", "1213", "1215"}));
    // A gap whose end is due itself: that minute runs once, and makes up for the gap.
    clock.Set(2026, 12, 7, 12, 25, 0, 0);
    keeper->Tick();
    EXPECT_EQ(runs.back(), "1225");
    EXPECT_EQ(runs.size(), 4u);
    const Msgs logged = LogMessages();
    EXPECT_EQ(Msgs(logged.begin() + 1, logged.end()),
              (Msgs{"備份條件符合", "錯過備份時間 2026/12/07 12:10 等 26 次", "備份條件符合",
                    "備份條件符合", "錯過備份時間 2026/12/07 12:20", "備份條件符合"}));
    // The last due minute checked, and the schedule it was checked under.
    const std::string state = ReadFile(dir / "PROC_STATE.TXT");
    EXPECT_EQ(state.substr(0, 13), "202612071225\n");
    EXPECT_NE(state.find("\nBACKUPMODE=0\nTIMEMODE=0\nBACKUPTIME=0000\n"), std::string::npos);
}

// The program ended while armed (a shutdown) and started two hours later: one line, one run.
// Stopped and armed again by the user: nothing was missed.
TEST_F(TimeTest, AStartUpAfterAGapMakesUpOnceAndAStopIsNoGap) {
    clock.Set(2026, 12, 7, 10, 0, 30, 0);
    StartUp();
    keeper->Close();
    clock.Set(2026, 12, 7, 12, 2, 10, 0);
    NewKeeper();
    CountRuns();
    StartUp();
    EXPECT_EQ(runs, Msgs{"1202"});
    Run(1);
    Stop();
    clock.Set(2026, 12, 7, 14, 0, 10, 0);
    Arm();
    Run(6);  // 14:01 .. 14:06
    EXPECT_EQ(runs, (Msgs{"1202", "1405"}));
    EXPECT_EQ(LogMessages(),
              (Msgs{"程式執行", "系統結束", "程式執行", "錯過備份時間 2026/12/07 12:00 等 24 次",
                    "備份條件符合", "系統停止", "系統啟動", "備份條件符合"}));
}

TEST_F(TimeTest, TheClockSetBackAMinuteFiresThatMinuteAgain) {
    StartUp();
    clock.Set(2026, 12, 7, 10, 4, 59, 0);
    Run(1);
    clock.Advance(-60000);
    Run(1);
    EXPECT_EQ(runs, (Msgs{"1005", "1005"}));
    // Set back while the timer is armed: its early-aimed wake lands in 10:04's last moments,
    // which is no early wake for the minute it was armed in (10:05): 10:04 is tested again,
    // then 10:05 once more, and that minute fires again.
    const int delay = keeper->NextDelay();
    clock.Advance(-60000);
    clock.Advance(delay);
    EXPECT_EQ(keeper->EarlyBy(), 0);
    keeper->Tick();
    clock.Advance(keeper->NextDelay());
    EXPECT_EQ(keeper->EarlyBy(), 0);
    keeper->Tick();
    EXPECT_EQ(runs, (Msgs{"1005", "1005", "1005"}));
}

TEST_F(TimeTest, ClockSetBackFiresTheSameMinuteAgain) {
    StartUp();
    clock.Set(2026, 12, 7, 10, 5, 0, 500);
    keeper->Tick();
    clock.Set(2026, 12, 7, 10, 5, 1, 0);
    keeper->Tick();
    EXPECT_EQ(runs, (Msgs{"1005", "1005"}));
}

TEST_F(TimeTest, AWakeJustBeforeItsMinuteSleepsTheRest) {
    StartUp();
    clock.Set(2026, 12, 7, 10, 4, 30, 0);
    EXPECT_EQ(keeper->NextDelay(), 30000 - TMinuteAlignment::kWaitSlackMs);  // aimed early
    clock.Set(2026, 12, 7, 10, 4, 59, 990);
    EXPECT_EQ(keeper->EarlyBy(), 10);
    clock.Set(2026, 12, 7, 10, 4, 57, 0);
    EXPECT_EQ(keeper->EarlyBy(), TMinuteAlignment::kEarlyWakeMs);
    clock.Set(2026, 12, 7, 10, 5, 0, 0);
    EXPECT_EQ(keeper->EarlyBy(), 0);
    // A late wake (a suspended machine) in another minute's last moments tests that minute.
    clock.Set(2026, 12, 7, 12, 13, 59, 990);
    EXPECT_EQ(keeper->EarlyBy(), 0);
}

}  // namespace
}  // namespace qv::test
