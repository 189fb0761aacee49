#include "engine/Schedule.h"

#include <cctype>
#include <ctime>
#include <vector>

#include "platform/Platform.h"

namespace qv {

std::string ZeroPad(int n, int width) {
    std::string s = std::to_string(n);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return s;
}

std::string DateText(const LocalTime& t) {
    return ZeroPad(t.year, 4) + ZeroPad(t.month, 2) + ZeroPad(t.day, 2);
}

std::string TimeText(const LocalTime& t) {
    return ZeroPad(t.hour, 2) + ZeroPad(t.minute, 2) + ZeroPad(t.second, 2) +
           ZeroPad(t.millisecond, 2);
}

bool DatePasses(int date_mode, int day) {
    switch (date_mode) {
        case 0:
            return true;
        case 1:
            return day >= 2 && day <= 6;
        case 2:
            return day == 7;
        case 3:
            return day == 1;
        case 4:
            return day == 1 || day == 7;
        default:
            return false;
    }
}

namespace {
// The time test for an hour and minute of the day: the one test behind both the tick's text and
// the minutes the schedule looks ahead or back through.
bool TimePassesAt(const TScheduleChoice& choice, int hour, int minute) {
    switch (choice.time_mode) {
        case 7:
            return choice.specific_time.size() == 4 &&
                   choice.specific_time == ZeroPad(hour, 2) + ZeroPad(minute, 2);
        case 0:
            return minute % 5 == 0;
        case 1:
            return minute % 10 == 0;
        case 2:
            return minute % 30 == 0;
        case 3:
            return minute == 0;
        case 4:
            return minute == 0 && hour % 3 == 0;
        case 5:
            return minute == 0 && hour % 6 == 0;
        case 6:
            return minute == 0 && hour % 12 == 0;
        default:
            return false;
    }
}
}  // namespace

bool TimePasses(int time_mode, const std::string& tick, const std::string& specific_time) {
    if (tick.size() != 4) return false;
    for (char c : tick)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    const int hour = (tick[0] - '0') * 10 + (tick[1] - '0');
    const int minute = (tick[2] - '0') * 10 + (tick[3] - '0');
    return TimePassesAt({0, time_mode, specific_time}, hour, minute);
}

bool BackupDueNow(const TScheduleChoice& choice, const LocalTime& now, std::string* tick_time) {
    if (!DatePasses(choice.date_mode, DayNumber(now))) return false;
    *tick_time = TimeText(now).substr(0, 4);
    return TimePasses(choice.time_mode, *tick_time, choice.specific_time);
}

bool BackupDueAt(const TScheduleChoice& choice, const LocalTime& minute) {
    return DatePasses(choice.date_mode, DayNumber(minute)) &&
           TimePassesAt(choice, minute.hour, minute.minute);
}

int64_t MinuteNumber(const LocalTime& t) {
    std::tm c = TmOfMinute(t);
    return static_cast<int64_t>(timegm(&c)) / 60;
}

LocalTime MinuteOf(int64_t minute_number) {
    const time_t secs = static_cast<time_t>(minute_number * 60);
    tm c{};
    gmtime_r(&secs, &c);
    return {c.tm_year + 1900, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min, 0, 0};
}

std::optional<LocalTime> NextDueMinute(const TScheduleChoice& choice, const LocalTime& after) {
    if (choice.time_mode < 0 || choice.time_mode > 7) return std::nullopt;
    // The minutes of a day that pass the time test, once; then day by day.
    std::vector<int> minutes_of_day;
    for (int m = 0; m < 24 * 60; ++m)
        if (TimePassesAt(choice, m / 60, m % 60)) minutes_of_day.push_back(m);
    if (minutes_of_day.empty()) return std::nullopt;
    const int64_t first = MinuteNumber(after) + 1, last = first + kLookAheadMinutes;
    for (int64_t day_start = first - ((first % 1440) + 1440) % 1440; day_start <= last;
         day_start += 1440) {
        if (!DatePasses(choice.date_mode, DayNumber(MinuteOf(day_start)))) continue;
        for (int m : minutes_of_day) {
            const int64_t at = day_start + m;
            // A minute the clock skips when it goes forward never comes.
            if (at >= first && at <= last && LocalMinuteExists(MinuteOf(at))) return MinuteOf(at);
        }
    }
    return std::nullopt;
}

std::string MinuteText(const LocalTime& t) {
    return ZeroPad(t.year, 4) + "/" + ZeroPad(t.month, 2) + "/" + ZeroPad(t.day, 2) + " " +
           ZeroPad(t.hour, 2) + ":" + ZeroPad(t.minute, 2);
}

int TMinuteAlignment::NextDelay() {
    armed_ = Clock().Read().utc_ms;
    // The kernel may end an ordinary process's long wait up to 0.1 % late (at most 100 ms, 60 ms
    // of a minute): the timer aims that much early, and the early wake sleeps the rest, which
    // is short enough to be precise.
    const int64_t to_minute = MsToNextUtcMinute(*armed_);
    return static_cast<int>(to_minute > kWaitSlackMs ? to_minute - kWaitSlackMs : to_minute);
}

int TMinuteAlignment::EarlyBy() const {
    if (!armed_) return 0;
    // In moments, not wall-clock minutes: a change of zone or daylight saving while the timer
    // waits moves neither its minute nor its wake.
    const int64_t now = Clock().Read().utc_ms;
    const int64_t left = MsToNextUtcMinute(now);
    return UtcMinute(now) == UtcMinute(*armed_) && left <= kEarlyWakeMs ? static_cast<int>(left)
                                                                        : 0;
}

}  // namespace qv
