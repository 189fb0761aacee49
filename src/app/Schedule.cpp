#include "Schedule.h"

#include <cctype>

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

bool TimePasses(int time_mode, const std::string& tick, const std::string& specific_time) {
    if (time_mode == 7) return specific_time == tick;
    if (tick.size() < 4) return false;
    for (int i = 0; i < 4; ++i)
        if (!std::isdigit(static_cast<unsigned char>(tick[i]))) return false;
    int hour = (tick[0] - '0') * 10 + (tick[1] - '0');
    int minute = (tick[2] - '0') * 10 + (tick[3] - '0');
    bool on_the_hour = tick.substr(2, 2) == "00";
    switch (time_mode) {
        case 0:
            return minute % 5 == 0;
        case 1:
            return minute % 10 == 0;
        case 2:
            return minute % 30 == 0;
        case 3:
            return on_the_hour;
        case 4:
            return on_the_hour && hour % 3 == 0;
        case 5:
            return on_the_hour && hour % 6 == 0;
        case 6:
            return on_the_hour && hour % 12 == 0;
        default:
            return false;
    }
}

}  // namespace qv
