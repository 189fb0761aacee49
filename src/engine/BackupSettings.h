#pragma once
// The settings one backup run needs, as data: what the window's controls hold, or what the
// service reads from its settings file.
#include <string>

#include "firebird/IBServices.h"
#include "engine/Schedule.h"

namespace qv {

class TIni;

struct TBackupSettings {
    std::string server_name;
    std::string database_name;
    std::string user_name = "SYSDBA";
    std::string password = "tidewater";
    std::string log_name;
    std::string backup_time = "0000";  // the specific time, HHNN
    std::string backup_dir;
    std::string backup_name;  // the manual name
    int protocol = 3;         // list index: 0 Local, 1 NamedPipe, 2 SPX, 3 TCP; -1 none
    int date_mode = 0;
    int naming_mode = 0;
    int time_mode = 0;
    bool verify = false;     // restore every completed backup into a scratch database
    std::string verify_dir;  // where the scratch database goes; empty: the backup directory
    // Names the settings file in its scratch database's name (SettingsId), filled by whoever
    // read the file: no two settings files share a scratch database.
    std::string settings_id;
    // The settings file's path (empty for the window's controls alone): the hook is refused
    // when others may write it.
    std::string settings_file;
    // A copy of every backup streamed to this machine's directory; empty: none.
    std::string local_dir;
    // Alerts; each empty is off: a Healthchecks-style ping URL, a shell command run after
    // every run's end and a missed-minute line, a Prometheus text file written after each run.
    std::string ping_url;
    std::string hook_cmd;
    std::string metrics_file;

    TScheduleChoice Schedule() const { return {date_mode, time_mode, backup_time}; }
};

// Reads section Para of ini's file, key by key, with the window's defaults; a list index
// outside its list, or one that is not a number, becomes -1 (no selection) or the default.
TBackupSettings ReadBackupSettings(TIni& ini);

// A settings file's short id: 8 hexadecimal digits of its path's FNV-1a hash, the same for
// every run that reads the file by that path.
std::string SettingsId(const std::string& settings_path);

// Why the backup directory cannot be given to the server (empty when it can): the server would
// write a relative or empty one into its own working directory, which a reboot may empty.
// Absolute is "/…", "X:\…" or "X:/…", or "\\server\…".
std::string BackupDirProblem(const std::string& backup_dir);

// The service component's protocol for the protocol list's index; false for no selection.
bool ProtocolOfIndex(int index, TProtocol* protocol);

}  // namespace qv
