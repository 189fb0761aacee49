#include "engine/BackupNaming.h"

#include "engine/Schedule.h"
#include "platform/Strings.h"

namespace qv {

std::string BackupDirectoryPart(const std::string& directory) {
    std::string dir = Trim(directory);
    if (dir.empty()) return dir;
    if (dir.back() == '\\' || dir.back() == '/') return dir;
    bool has_slash = dir.find('/') != std::string::npos;
    bool has_backslash = dir.find('\\') != std::string::npos;
    bool posix = dir.front() == '/' || (has_slash && !has_backslash);
    return dir + (posix ? "/" : "\\");
}

std::string BackupName(int naming_mode, int time_mode, int date_mode, const std::string& manual,
                       const std::string& tick_time, const LocalTime& today) {
    if (naming_mode != 0) return manual;
    if (time_mode != 7) return tick_time;
    if (date_mode == 0) return "Day" + DateText(today).substr(6, 2);
    return "Week" + std::to_string(DayNumber(today));
}

std::string BackupPath(const std::string& directory, const std::string& name) {
    return BackupDirectoryPart(directory) + name + ".gbk";
}

std::string LocalCopyPath(const std::string& local_dir, const std::string& name) {
    std::string dir = Trim(local_dir);
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + name + ".gbk";
}

}  // namespace qv
