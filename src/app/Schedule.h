#pragma once
// The once-a-minute schedule test and the date and time texts, free of widgets.
#include <string>

#include "Clock.h"

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

}  // namespace qv
