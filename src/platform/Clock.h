#pragma once
// The local clock with milliseconds, read through an injectable source.
#include <cstdint>
#include <ctime>

namespace qv {

struct LocalTime {
    int year = 2000, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    bool operator==(const LocalTime&) const = default;
};

// One read of the clock: the wall-clock time, and the same moment in milliseconds since the
// epoch, which neither daylight saving nor a change of zone moves.
struct ClockReading {
    LocalTime local;
    int64_t utc_ms = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual ClockReading Read() const = 0;
    LocalTime Now() const { return Read().local; }
};

// The machine's local time (clock_gettime + localtime_r), in the zone the machine has now:
// a change of zone is seen at the next read.
class SystemClock : public IClock {
public:
    ClockReading Read() const override;
};

// The wall-clock time at a moment (milliseconds since the epoch) under the zone's rules as last
// read (TZ or /etc/localtime); a clock read follows a change of zone first.
LocalTime LocalTimeAt(int64_t utc_ms);
// Whether the wall clock shows this minute at all under today's rules: not in the hour skipped when
// the clock goes forward.
bool LocalMinuteExists(const LocalTime& t);
// The C library's broken-down time of a minute (seconds 0, daylight saving unknown).
std::tm TmOfMinute(const LocalTime& t);

// Day of the week of a date in the proleptic Gregorian calendar: 1 Sunday .. 7 Saturday.
int DayNumber(int year, int month, int day);
inline int DayNumber(const LocalTime& t) {
    return DayNumber(t.year, t.month, t.day);
}

// Milliseconds from t to `offset_ms` past the start of the next minute; the one-minute
// schedule re-arms itself with this so every tick lands at the start of its minute.
int64_t MsToNextMinute(const LocalTime& t, int offset_ms = 0);
// The minute a moment falls in, counted from the epoch, and the milliseconds to the next one.
// Zones are whole minutes ahead of or behind UTC, so these are the wall clock's minutes too.
inline int64_t UtcMinute(int64_t utc_ms) {
    return (utc_ms >= 0 ? utc_ms : utc_ms - 59999) / 60000;
}
inline int64_t MsToNextUtcMinute(int64_t utc_ms) {
    return (UtcMinute(utc_ms) + 1) * 60000 - utc_ms;
}
// Whether a and b fall in the same minute of the same day.
bool SameMinute(const LocalTime& a, const LocalTime& b);

}  // namespace qv
