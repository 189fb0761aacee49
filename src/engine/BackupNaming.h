#pragma once
// The backup file of one run: directory part, name and ".gbk", free of widgets.
#include <string>

#include "platform/Clock.h"

namespace qv {

// The backup directory trimmed, followed by one separator of its own style: "/" for a POSIX
// directory (it begins with "/", or has "/" and no "\"), "\" otherwise; none when it already
// ends in either, and nothing at all when it is empty.
std::string BackupDirectoryPart(const std::string& directory);

// The name chosen by the naming mode (0 automatic), the time mode (7 specific time) and the
// date mode (0 every day): DayDD, WeekD, the tick's HHNN, or the manual name as typed.
std::string BackupName(int naming_mode, int time_mode, int date_mode, const std::string& manual,
                       const std::string& tick_time, const LocalTime& today);

std::string BackupPath(const std::string& directory, const std::string& name);

// The copy on this machine: "<LOCALDIR>/<name>.gbk", the file name the server's own gets.
std::string LocalCopyPath(const std::string& local_dir, const std::string& name);

}  // namespace qv
