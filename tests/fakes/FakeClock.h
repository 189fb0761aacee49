#pragma once
// A clock the test sets and moves. It keeps a moment (milliseconds since the epoch) and shows it
// in the process's real zone, so a test that sets TZ (and calls tzset) sees that zone's
// daylight saving.
#include <chrono>
#include <cstdint>
#include <ctime>

#include "platform/Clock.h"

namespace qv {

class FakeClock : public IClock {
public:
    ClockReading Read() const override {
        int64_t ms = utc_ms_;
        if (running_)
            ms += std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started_)
                      .count();
        return {LocalTimeAt(ms), ms};
    }
    // From now on the clock moves with real time, starting at the moment set.
    void Run() {
        running_ = true;
        started_ = std::chrono::steady_clock::now();
    }

    // A local time in the process's zone (a minute the zone skips or shows twice is taken as
    // mktime takes it: tests of those days use SetUtc).
    void Set(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        tm t = Fields(y, mo, d, h, mi, s);
        t.tm_isdst = -1;
        Stop(static_cast<int64_t>(mktime(&t)) * 1000 + ms);
    }
    void SetUtc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        tm t = Fields(y, mo, d, h, mi, s);
        Stop(static_cast<int64_t>(timegm(&t)) * 1000 + ms);
    }
    // Moves the clock by ms milliseconds (negative moves it back).
    void Advance(int64_t ms) { utc_ms_ += ms; }

private:
    static tm Fields(int y, int mo, int d, int h, int mi, int s) {
        tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        return t;
    }
    void Stop(int64_t utc_ms) {
        running_ = false;
        utc_ms_ = utc_ms;
    }

    int64_t utc_ms_ = 946684800000;  // 2000-01-01 00:00 UTC
    bool running_ = false;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace qv
