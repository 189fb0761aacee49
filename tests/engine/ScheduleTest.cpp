#include "engine/Schedule.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(DateTexts, PadAndPrefixes) {
    EXPECT_EQ(ZeroPad(7, 2), "07");
    EXPECT_EQ(ZeroPad(12345, 4), "12345");
    LocalTime t{2027, 2, 1, 9, 5, 3, 7};
    EXPECT_EQ(DateText(t), "20270201");
    EXPECT_EQ(TimeText(t), "09050307");
    t.millisecond = 123;
    EXPECT_EQ(TimeText(t), "090503123");
}

TEST(Schedule, EveryDateModeOnEveryWeekday) {
    // Rows: date modes 0..4 and two without a selection; columns: day numbers 1 (Sunday)..7.
    const char* expected[] = {"1111111", "0111110", "0000001", "1000000",
                              "1000001", "0000000", "0000000"};
    const int modes[] = {0, 1, 2, 3, 4, -1, 5};
    for (int m = 0; m < 7; ++m)
        for (int day = 1; day <= 7; ++day)
            EXPECT_EQ(DatePasses(modes[m], day), expected[m][day - 1] == '1')
                << "mode " << modes[m] << " day " << day;
}

TEST(Schedule, FiringMinutesPerTimeModeOverAWholeDay) {
    const int expected_count[] = {288, 144, 48, 24, 8, 4, 2};
    for (int mode = 0; mode <= 6; ++mode) {
        int count = 0;
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m < 60; ++m) {
                const bool passes = TimePasses(mode, ZeroPad(h, 2) + ZeroPad(m, 2), "0000");
                count += passes;
                // The minute-of-day test the next due minute is found with agrees.
                ASSERT_EQ(BackupDueAt({0, mode, "0000"}, {2026, 12, 7, h, m, 0, 0}), passes)
                    << "mode " << mode << " at " << h << ":" << m;
            }
        EXPECT_EQ(count, expected_count[mode]) << "mode " << mode;
    }
    EXPECT_TRUE(TimePasses(0, "1435", ""));
    EXPECT_FALSE(TimePasses(0, "1437", ""));
    EXPECT_TRUE(TimePasses(4, "0300", ""));
    EXPECT_TRUE(TimePasses(4, "0000", ""));
    EXPECT_FALSE(TimePasses(4, "0400", ""));
    EXPECT_FALSE(TimePasses(4, "0305", ""));
    EXPECT_TRUE(TimePasses(6, "1200", ""));
    EXPECT_FALSE(TimePasses(6, "0600", ""));
}

TEST(Schedule, SpecificTimeComparesTheTextCharacterForCharacter) {
    int fires_0830 = 0, fires_830 = 0, fires_2400 = 0;
    for (int h = 0; h < 24; ++h)
        for (int m = 0; m < 60; ++m) {
            std::string tick = ZeroPad(h, 2) + ZeroPad(m, 2);
            fires_0830 += TimePasses(7, tick, "0830");
            fires_830 += TimePasses(7, tick, "830");
            fires_2400 += TimePasses(7, tick, "2400");
        }
    EXPECT_EQ(fires_0830, 1);
    EXPECT_EQ(fires_830, 0);
    EXPECT_EQ(fires_2400, 0);
    EXPECT_TRUE(TimePasses(7, "0830", "0830"));
}

TEST(Schedule, NoSelectionNeverFires) {
    for (int mode : {-1, 8, 100})
        for (int h = 0; h < 24; ++h)
            EXPECT_FALSE(TimePasses(mode, ZeroPad(h, 2) + "00", ZeroPad(h, 2) + "00"));
    EXPECT_FALSE(TimePasses(0, "", ""));
    EXPECT_FALSE(TimePasses(0, "ab00", ""));
}

}  // namespace
}  // namespace qv
