#pragma once
// The once-a-minute schedule test and the date and time texts, free of widgets.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace qv {

// Decimal text of n with "0" in front up to width characters; a longer text stays whole.
std::string ZeroPad(int n, int width);
// YYYYMMDD.
std::string DateText(const LocalTime& t);
// HHNNSS followed by the milliseconds padded to 2 (so two or three digits).
std::string TimeText(const LocalTime& t);

// Date modes (the date list's index): 0 every day, 1 Monday-Friday, 2 Saturday, 3 Sunday,
// 4 Saturday and Sunday; anything else passes no day. day_number: 1 Sunday .. 7 Saturday.
bool DatePasses(int date_mode, int day_number);

// Time modes (the time list's index): 0/1/2 every 5/10/30 minutes, 3 every hour, 4/5/6 every
// 3/6/12 hours, 7 when specific_time equals tick_time character for character; anything else
// never. tick_time is HHNN; a text that is not four digits matches nothing.
bool TimePasses(int time_mode, const std::string& tick_time, const std::string& specific_time);

// The three choices the schedule tests on every tick.
struct TScheduleChoice {
    int date_mode = 0;
    int time_mode = 0;
    std::string specific_time = "0000";
};

// The once-a-minute test at the tick's time: the date test first, then tick_time := now's hour
// and minute (HHNN) and the time test on that text. tick_time is left alone when the date fails.
bool BackupDueNow(const TScheduleChoice& choice, const LocalTime& now, std::string* tick_time);
// The same test for a given minute, without the text.
bool BackupDueAt(const TScheduleChoice& choice, const LocalTime& minute);

// Minutes counted on the local calendar (no zone, no daylight saving), for stepping from one
// local minute to the next across days, months and years.
int64_t MinuteNumber(const LocalTime& t);
LocalTime MinuteOf(int64_t minute_number);

// The first minute after `after`'s own minute in which a backup is due, looking at most
// kLookAheadMinutes ahead; nothing when none is due in that time. A minute the clock skips (the
// hour it goes forward) is not one.
constexpr int kLookAheadMinutes = 8 * 24 * 60;
std::optional<LocalTime> NextDueMinute(const TScheduleChoice& choice, const LocalTime& after);

// "YYYY/MM/DD HH:NN".
std::string MinuteText(const LocalTime& t);

// Keeps a one-minute timer on the clock's minutes: the delay to the start of the next minute,
// and how much too early a wake came (one in the last moments of the minute it was armed in has
// not reached its minute yet). Both count moments, so a change of zone or daylight saving is no
// early wake. A clock set back a whole minute is not an early wake: that minute is seen, and
// tested, again.
class TMinuteAlignment {
public:
    int NextDelay();
    int EarlyBy() const;
    static constexpr int kEarlyWakeMs = 3000;
    static constexpr int kWaitSlackMs = 100;

private:
    std::optional<int64_t> armed_;  // the moment (ms since the epoch) the timer was last armed
};

}  // namespace qv
