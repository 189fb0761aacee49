#pragma once
// The local clock with milliseconds, read through an injectable source.
#include <cstdint>

namespace qv {

struct LocalTime {
    int year = 2000, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    bool operator==(const LocalTime&) const = default;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual LocalTime Now() const = 0;
};

// The machine's local time (clock_gettime + localtime_r), in the zone the machine has now:
// a change of zone is seen at the next read.
class SystemClock : public IClock {
public:
    LocalTime Now() const override;
};

// Day of the week of a date in the proleptic Gregorian calendar: 1 Sunday .. 7 Saturday.
int DayNumber(int year, int month, int day);
inline int DayNumber(const LocalTime& t) {
    return DayNumber(t.year, t.month, t.day);
}

// Milliseconds from t to `offset_ms` past the start of the next minute; the one-minute
// schedule re-arms itself with this so every tick lands at the start of its minute.
int64_t MsToNextMinute(const LocalTime& t, int offset_ms = 0);
// Whether a and b fall in the same minute of the same day.
bool SameMinute(const LocalTime& a, const LocalTime& b);

}  // namespace qv
