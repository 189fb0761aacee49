#pragma once
// A clock the test sets and moves.
#include <chrono>
#include <cstdint>
#include <ctime>

#include "platform/Clock.h"

namespace qv {

class FakeClock : public IClock {
public:
    LocalTime now;
    LocalTime Now() const override {
        if (!running_) return now;
        FakeClock moved = *this;
        moved.running_ = false;
        moved.Advance(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started_)
                          .count());
        return moved.now;
    }
    // From now on the clock moves with real time, starting at the moment set.
    void Run() {
        running_ = true;
        started_ = std::chrono::steady_clock::now();
    }

    void Set(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        running_ = false;
        now = {y, mo, d, h, mi, s, ms};
    }
    // Moves the clock by ms milliseconds (negative moves it back), across days and months.
    void Advance(int64_t ms) {
        tm t{};
        t.tm_year = now.year - 1900;
        t.tm_mon = now.month - 1;
        t.tm_mday = now.day;
        t.tm_hour = now.hour;
        t.tm_min = now.minute;
        t.tm_sec = now.second;
        int64_t total = static_cast<int64_t>(timegm(&t)) * 1000 + now.millisecond + ms;
        time_t secs = static_cast<time_t>(total >= 0 ? total / 1000 : (total - 999) / 1000);
        int64_t rem = total - static_cast<int64_t>(secs) * 1000;
        gmtime_r(&secs, &t);
        now = {t.tm_year + 1900, t.tm_mon + 1,         t.tm_mday, t.tm_hour, t.tm_min,
               t.tm_sec,         static_cast<int>(rem)};
    }

private:
    bool running_ = false;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace qv
