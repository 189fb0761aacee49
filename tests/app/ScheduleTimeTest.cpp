// The schedule against simulated time: whole weeks, a clock set back, a suspended machine.
#include <gtest/gtest.h>

#include "FormFixture.h"

namespace qv::test {
namespace {

class RunCounter : public TQuorvaneForm {
public:
    std::vector<std::string> runs;  // TickTime of every run, with the day
    void DataBackup() override { runs.push_back(TickTime()); }
};

class TimeTest : public FormFixture {
protected:
    RunCounter& Counter() {
        auto* f = new RunCounter;
        form.reset(f);
        f->FormShow();
        return *f;
    }
    // Lets the one-minute timer run from `clock` until `minutes` ticks have passed.
    void Run(RunCounter& f, int minutes) {
        for (int i = 0; i < minutes; ++i) {
            clock.Advance(f.Timer1Delay());
            f.Timer1Timer();
        }
    }
};

TEST_F(TimeTest, AWeekOfEveryDateModeAndTimeMode) {
    RunCounter& f = Counter();
    const int days_per_week[] = {7, 5, 1, 1, 2};
    const int fires_per_day[] = {288, 144, 48, 24, 8, 4, 2, 1};
    f.MaskEdit1->SetText("0830");
    for (int date_mode = 0; date_mode < 5; ++date_mode)
        for (int time_mode = 0; time_mode < 8; ++time_mode) {
            f.ComboBox2->setCurrentIndex(date_mode);
            f.ComboBox4->setCurrentIndex(time_mode);
            f.StartButton->SetDown(true);
            f.runs.clear();
            clock.Set(2026, 12, 6, 23, 59, 59, 0);  // a second before Monday 7 December
            Run(f, 7 * 24 * 60);
            EXPECT_EQ(static_cast<int>(f.runs.size()),
                      days_per_week[date_mode] * fires_per_day[time_mode])
                << "date mode " << date_mode << ", time mode " << time_mode;
        }
}

TEST_F(TimeTest, ASuspendedMachineDoesNotReplayMissedMinutes) {
    RunCounter& f = Counter();  // every 5 minutes, every day
    clock.Set(2026, 12, 7, 9, 59, 59, 0);
    Run(f, 1);  // 10:00 fires
    EXPECT_EQ(f.runs, std::vector<std::string>{"1000"});
    // Asleep from 10:00 to 12:13:20: the late tick sees 12:13 only, nothing of what was missed.
    clock.Set(2026, 12, 7, 12, 13, 20, 0);
    f.Timer1Timer();
    EXPECT_EQ(f.runs.size(), 1u);
    Run(f, 2);  // 12:14, 12:15
    EXPECT_EQ(f.runs, (std::vector<std::string>{"1000", "1215"}));
}

TEST_F(TimeTest, TheClockSetBackAMinuteFiresThatMinuteAgain) {
    RunCounter& f = Counter();
    clock.Set(2026, 12, 7, 10, 4, 59, 0);
    Run(f, 1);
    clock.Advance(-60000);
    Run(f, 1);
    EXPECT_EQ(f.runs, (std::vector<std::string>{"1005", "1005"}));
}

}  // namespace
}  // namespace qv::test
