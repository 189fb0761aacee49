#include "platform/Clock.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace qv {

namespace {

// localtime_r keeps the zone it read first. tzset() reads it again, as `date` would: the file
// /etc/localtime whenever it changed (a new zone from the desktop or timedatectl), or TZ's
// rules. A TZ that names a file (":/etc/localtime") is read again only when TZ's text changes,
// so when that file changes TZ gets an equivalent spelling (one slash more or less at the front).
void FollowTimeZone() {
    static std::mutex mu;
    static struct stat zone_file {};
    static bool seen = false;
    std::lock_guard lock(mu);
    const char* tz = std::getenv("TZ");
    std::string spelling = tz ? tz : "";
    const size_t at = !spelling.empty() && spelling[0] == ':' ? 1 : 0;
    struct stat st {};
    if (spelling.compare(at, 1, "/") == 0 && stat(spelling.c_str() + at, &st) == 0) {
        const bool changed = st.st_dev != zone_file.st_dev || st.st_ino != zone_file.st_ino ||
                             st.st_mtim.tv_sec != zone_file.st_mtim.tv_sec ||
                             st.st_mtim.tv_nsec != zone_file.st_mtim.tv_nsec;
        if (seen && changed) {
            if (spelling.compare(at, 2, "//") == 0)
                spelling.erase(at, 1);
            else
                spelling.insert(at, "/");
            setenv("TZ", spelling.c_str(), 1);
        }
        zone_file = st;
        seen = true;
    }
    tzset();
}

}  // namespace

ClockReading SystemClock::Read() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    FollowTimeZone();
    const int64_t utc_ms = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    return {LocalTimeAt(utc_ms), utc_ms};
}

LocalTime LocalTimeAt(int64_t utc_ms) {
    const int64_t floor_ms = utc_ms >= 0 ? utc_ms : utc_ms - 999;
    const time_t secs = static_cast<time_t>(floor_ms / 1000);
    tm local{};
    localtime_r(&secs, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
    t.millisecond = static_cast<int>(utc_ms - static_cast<int64_t>(secs) * 1000);
    return t;
}

std::tm TmOfMinute(const LocalTime& t) {
    std::tm c{};
    c.tm_year = t.year - 1900;
    c.tm_mon = t.month - 1;
    c.tm_mday = t.day;
    c.tm_hour = t.hour;
    c.tm_min = t.minute;
    c.tm_isdst = -1;
    return c;
}

bool LocalMinuteExists(const LocalTime& t) {
    std::tm c = TmOfMinute(t);
    // mktime moves a minute the clock skipped to one it shows; an existing one comes back whole.
    const time_t at = mktime(&c);
    if (at == static_cast<time_t>(-1)) return false;
    const LocalTime back = LocalTimeAt(static_cast<int64_t>(at) * 1000);
    return SameMinute(back, t);
}

int DayNumber(int year, int month, int day) {
    // Days since 1 January of year 1 (that day counting as 1), modulo 7, plus 1.
    static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int64_t y = year - 1;
    int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    days += kBefore[(month - 1) % 12] + day;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (leap && month > 2) ++days;
    return static_cast<int>(days % 7) + 1;
}

int64_t MsToNextMinute(const LocalTime& t, int offset_ms) {
    int64_t into_minute = t.second * 1000LL + t.millisecond;
    return 60000 - into_minute + offset_ms;
}

bool SameMinute(const LocalTime& a, const LocalTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute;
}

}  // namespace qv
