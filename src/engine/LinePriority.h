#pragma once
// How a line is to be heard, and the event that hears it: shared by the runner, the keeper and
// the alerts that log their own lines.
#include <functional>
#include <string>

namespace qv {

// How a line is to be heard: a failure is shown to the user (a desktop notification, an error
// in the journal), a warning is worth a look, the rest is information. The numbers are the
// syslog priorities the journal reads.
enum class TLinePriority { Failure = 3, Warning = 4, Info = 6 };

// A message may hold several lines, "\n" between them: one report, each line logged.
using TLineEvent = std::function<void(const std::string& message, TLinePriority priority)>;

}  // namespace qv
