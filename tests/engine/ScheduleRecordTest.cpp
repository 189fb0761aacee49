// The schedule's record and its tick decision, without a window: a fake clock shown in real
// zones (TZ), the one-minute timer's alignment, and the record's file.
#include "engine/ScheduleRecord.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "FakeClock.h"
#include "TestSupport.h"

namespace qv::test {
namespace {

using Lines = std::vector<std::string>;

// TZ for the test's lifetime; Change() moves the zone as a desktop or timedatectl would.
class ScopedZone {
public:
    explicit ScopedZone(const std::string& zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        Change(zone);
    }
    ~ScopedZone() {
        old_ ? setenv("TZ", old_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    void Change(const std::string& zone) {
        EXPECT_TRUE(std::filesystem::exists("/usr/share/zoneinfo/" + zone)) << "tzdata is missing";
        setenv("TZ", zone.c_str(), 1);
        tzset();
    }

private:
    std::optional<std::string> old_;
};

const TScheduleChoice kEvery5Minutes{0, 0, "0000"};
const TScheduleChoice kDailyAt0230{0, 7, "0230"};

class ScheduleRecordTest : public ::testing::Test {
protected:
    void SetUp() override { SetClock(&clock); }
    void TearDown() override { SetClock(nullptr); }

    // What a front end would log for a decision, each line after the wall-clock minute it came
    // in; a run shows its name (HHNN).
    void Note(const TTickDecision& d) {
        const LocalTime now = clock.Now();
        const std::string at = ZeroPad(now.hour, 2) + ":" + ZeroPad(now.minute, 2) + " ";
        if (!d.missed_line.empty()) lines.push_back(at + d.missed_line);
        if (!d.record_warning.empty()) lines.push_back(at + d.record_warning);
        if (d.run) lines.push_back(at + "run " + tick_time);
    }
    void StartUp(const TScheduleChoice& choice) {
        Note(DecideStartUp(record, choice, clock.Read(), &tick_time));
    }
    // n ticks of the one-minute timer as it runs: it wakes when its (early-aimed) delay is over,
    // sleeps as long as the wake was early, and every tick finds its minute begun.
    void Ticks(const TScheduleChoice& choice, int n) {
        for (int i = 0; i < n; ++i) {
            clock.Advance(alignment.NextDelay());
            for (int early; (early = alignment.EarlyBy()) > 0;) clock.Advance(early);
            ASSERT_EQ(clock.Read().utc_ms % 60000, 0) << "tick " << i;
            Note(DecideTick(record, choice, clock.Read(), &tick_time));
        }
    }

    TempDir dir;
    const std::string file = dir / "PROC_STATE.TXT";
    FakeClock clock;
    TMinuteAlignment alignment;
    TScheduleRecord record{file};
    std::string tick_time;
    Lines lines;
};

TEST_F(ScheduleRecordTest, KeepsTheScheduleAndAGapUnderAnotherOneIsNoGap) {
    ScopedZone zone("Europe/Berlin");
    const TScheduleChoice hourly{0, 3, "0000"};
    clock.Set(2026, 12, 10, 9, 59, 50);
    StartUp(hourly);
    Ticks(hourly, 1);
    EXPECT_EQ(ReadFile(file),
              "202612101000\nUTC=202612100900\nBACKUPMODE=0\nTIMEMODE=3\nBACKUPTIME=0000\n");
    const std::string kept = dir / "kept.txt";
    std::filesystem::copy_file(file, kept);

    // Restarted at 12:37 under the same schedule: 11:00 and 12:00 were missed.
    clock.Set(2026, 12, 10, 12, 37, 0);
    StartUp(hourly);
    // Restarted at 12:37 every 5 minutes, on the hourly record: nothing this schedule can tell.
    std::filesystem::copy_file(kept, file, std::filesystem::copy_options::overwrite_existing);
    TScheduleRecord restarted(file);
    Note(DecideStartUp(restarted, kEvery5Minutes, clock.Read(), &tick_time));
    EXPECT_EQ(ReadFile(file),
              "202612101237\nUTC=202612101137\nBACKUPMODE=0\nTIMEMODE=0\nBACKUPTIME=0000\n");
    // So is a change while running; a specific time that its mode does not use is no change.
    clock.Set(2026, 12, 10, 13, 0, 0);
    Note(DecideTick(restarted, {0, 7, "1300"}, clock.Read(), &tick_time));
    clock.Set(2026, 12, 10, 13, 20, 0);
    Note(DecideTick(restarted, {0, 0, "1300"}, clock.Read(), &tick_time));
    clock.Set(2026, 12, 10, 13, 40, 0);
    Note(DecideTick(restarted, {0, 0, "0000"}, clock.Read(), &tick_time));
    EXPECT_EQ(lines, (Lines{"10:00 run 1000", "12:37 錯過備份時間 2026/12/10 12:00 等 2 次",
                            "12:37 run 1237", "13:00 run 1300", "13:20 run 1320",
                            "13:40 錯過備份時間 2026/12/10 13:35 等 3 次", "13:40 run 1340"}));
}

TEST_F(ScheduleRecordTest, ARecordWithoutItsScheduleStartsAfresh) {
    ScopedZone zone("Europe/Berlin");
    // As written before the record kept its schedule, and a damaged one.
    for (const char* old :
         {"202612101000\n",
          "202612101000\nUTC=2026121009\nBACKUPMODE=0\nTIMEMODE=0\nBACKUPTIME=0000\n"}) {
        WriteFile(file, old);
        clock.Set(2026, 12, 10, 12, 37, 0);
        TScheduleRecord restarted(file);
        Note(DecideStartUp(restarted, kEvery5Minutes, clock.Read(), &tick_time));
        EXPECT_EQ(ReadFile(file),
                  "202612101237\nUTC=202612101137\nBACKUPMODE=0\nTIMEMODE=0\nBACKUPTIME=0000\n");
    }
    EXPECT_EQ(lines, Lines{});
}

// The clock goes forward at 02:00 (CET) to 03:00 (CEST): 02:00-02:59 never show.
TEST_F(ScheduleRecordTest, TheSpringForwardHourHasNoMinutes) {
    ScopedZone zone("Europe/Berlin");
    clock.SetUtc(2027, 3, 28, 0, 50, 10);  // 01:50:10 CET
    StartUp(kEvery5Minutes);
    Ticks(kEvery5Minutes, 20);  // 01:51 .. 01:59, 03:00 .. 03:10
    EXPECT_EQ(lines,
              (Lines{"01:55 run 0155", "03:00 run 0300", "03:05 run 0305", "03:10 run 0310"}));

    // A specific time inside the skipped hour does not fire that day, nor is it missed; the next
    // due minute shown is the next day's.
    lines.clear();
    clock.SetUtc(2027, 3, 28, 0, 50, 10);
    EXPECT_EQ(NextDueMinute(kDailyAt0230, clock.Now()), (LocalTime{2027, 3, 29, 2, 30, 0, 0}));
    StartUp(kDailyAt0230);
    Ticks(kDailyAt0230, 20);
    EXPECT_EQ(lines, Lines{});

    // Down from 01:00 CET to 04:00 CEST: the minutes that showed are missed, and only those.
    clock.SetUtc(2027, 3, 28, 0, 0, 10);
    StartUp(kEvery5Minutes);
    clock.SetUtc(2027, 3, 28, 2, 0, 10);
    StartUp(kEvery5Minutes);
    clock.SetUtc(2027, 3, 28, 0, 0, 10);
    StartUp(kDailyAt0230);
    clock.SetUtc(2027, 3, 28, 2, 0, 10);
    StartUp(kDailyAt0230);
    EXPECT_EQ(lines, (Lines{"04:00 錯過備份時間 2027/03/28 04:00 等 24 次", "04:00 run 0400"}));
}

// The clock goes back at 03:00 (CEST) to 02:00 (CET): 02:00-02:59 show twice.
TEST_F(ScheduleRecordTest, TheFallBackHourFiresTwiceAndIsMissedOnce) {
    ScopedZone zone("Europe/Berlin");
    Lines expected = {"01:55 run 0155"};
    for (int pass = 0; pass < 2; ++pass)
        for (int m = 0; m < 60; m += 5)
            expected.push_back("02:" + ZeroPad(m, 2) + " run 02" + ZeroPad(m, 2));
    for (int m = 0; m <= 10; m += 5)
        expected.push_back("03:" + ZeroPad(m, 2) + " run 03" + ZeroPad(m, 2));
    clock.SetUtc(2027, 10, 30, 23, 50, 10);  // 01:50:10 CEST
    StartUp(kEvery5Minutes);
    Ticks(kEvery5Minutes, 9 + 60 + 60 + 11);  // 01:51 .. 03:10 CET
    EXPECT_EQ(lines, expected);

    lines.clear();
    clock.SetUtc(2027, 10, 30, 23, 50, 10);
    StartUp(kDailyAt0230);
    Ticks(kDailyAt0230, 9 + 60 + 60 + 11);
    EXPECT_EQ(lines, (Lines{"02:30 run 0230", "02:30 run 0230"}));

    // Down from 01:30 CEST to 04:02 CET: every minute that showed counts once.
    lines.clear();
    for (const TScheduleChoice& choice : {kEvery5Minutes, kDailyAt0230}) {
        clock.SetUtc(2027, 10, 30, 23, 30, 10);
        StartUp(choice);
        clock.SetUtc(2027, 10, 31, 3, 2, 10);
        StartUp(choice);
    }
    EXPECT_EQ(lines, (Lines{"04:02 錯過備份時間 2027/10/31 04:00 等 30 次", "04:02 run 0402",
                            "04:02 錯過備份時間 2027/10/31 02:30", "04:02 run 0402"}));
}

TEST_F(ScheduleRecordTest, AChangeOfZoneWhileRunningIsNoGapAndNoEarlyWake) {
    ScopedZone zone("UTC");
    clock.SetUtc(2026, 12, 10, 10, 0, 30);
    StartUp(kEvery5Minutes);
    Ticks(kEvery5Minutes, 1);  // 10:01 UTC
    // Eight hours ahead while the timer waits: its wake is still only the early aim's rest.
    const int delay = alignment.NextDelay();
    zone.Change("Asia/Taipei");
    clock.Advance(delay);
    EXPECT_EQ(alignment.EarlyBy(), TMinuteAlignment::kWaitSlackMs);
    clock.Advance(alignment.EarlyBy());
    Note(DecideTick(record, kEvery5Minutes, clock.Read(), &tick_time));  // 18:02 Taipei
    Ticks(kEvery5Minutes, 3);
    // And back: the hours shown again are no gap either.
    zone.Change("UTC");
    Ticks(kEvery5Minutes, 5);
    EXPECT_EQ(lines, (Lines{"18:05 run 1805", "10:10 run 1010"}));
}

TEST_F(ScheduleRecordTest, ARecordThatCannotBeWrittenIsOneWarningAndRetriedAtTheNextDueMinute) {
    ScopedZone zone("Europe/Berlin");
    const std::string gone = dir / "gone";
    const std::string unwritable = gone + "/PROC_STATE.TXT";
    const std::string reason = std::strerror(ENOENT);
    record.SetFile(unwritable);
    clock.Set(2026, 12, 10, 10, 3, 10);
    StartUp(kEvery5Minutes);
    Ticks(kEvery5Minutes, 4);  // 10:04 .. 10:07, 10:05 failing again
    std::filesystem::create_directory(gone);
    Ticks(kEvery5Minutes, 2);  // 10:08, 10:09: not due, so not written yet
    EXPECT_FALSE(std::filesystem::exists(unwritable));
    Ticks(kEvery5Minutes, 1);  // 10:10
    EXPECT_EQ(ReadFile(unwritable),
              "202612101010\nUTC=202612100910\nBACKUPMODE=0\nTIMEMODE=0\nBACKUPTIME=0000\n");
    // Failing again after a success is said again.
    std::filesystem::remove_all(gone);
    Ticks(kEvery5Minutes, 10);  // 10:11 .. 10:20
    EXPECT_EQ(lines, (Lines{"10:03 無法寫入狀態檔 " + unwritable + ":" + reason, "10:05 run 1005",
                            "10:10 run 1010", "10:15 無法寫入狀態檔 " + unwritable + ":" + reason,
                            "10:15 run 1015", "10:20 run 1020"}));
}

}  // namespace
}  // namespace qv::test
