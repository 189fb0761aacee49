#include "engine/BackupSettings.h"

#include "components/IniFil.h"
#include "platform/Strings.h"

#include <cctype>

#include "platform/Strings.h"
#include "platform/Platform.h"
#include "platform/Profile.h"

namespace qv {

namespace {
// Sizes of the four lists: protocol, date mode, naming mode, time mode.
constexpr int kProtocols = 4, kDateModes = 5, kNamingModes = 2, kTimeModes = 8;

int InList(int index, int count) {
    return index >= 0 && index < count ? index : -1;
}
}  // namespace

TBackupSettings ReadBackupSettings(TIni& ini) {
    const ProfileReadsHeld one_read(ProfileFiles());  // the file parsed once for every key
    TBackupSettings s;
    auto read_string = [&ini](const char* key, const std::string& def) {
        ini.SetIdent(key);
        return ini.Read() ? ini.Value().ToString() : def;
    };
    ini.SetDataType(TiniType::DsString);
    s.server_name = read_string("SERVERNAME", "");
    s.database_name = read_string("DATABASENAME", "");
    s.user_name = read_string("USERNAME", "SYSDBA");
    s.password = read_string("PASSWORD", "tidewater");
    s.log_name = read_string("LOGNAME", "");
    s.backup_time = read_string("BACKUPTIME", "0000");
    s.backup_dir = read_string("BACKUPDIR", "");
    s.backup_name = read_string("BACKUPNAME", "");

    ini.SetDataType(TiniType::DsInteger);
    auto read_index = [&ini](const char* key, int count, int def) {
        ini.SetIdent(key);
        try {
            return InList(ini.Read() ? ini.Value().ToInt() : def, count);
        } catch (const std::exception&) {
            return InList(def, count);
        }
    };
    s.protocol = read_index("PROTOCAL", kProtocols, 3);
    s.date_mode = read_index("BACKUPMODE", kDateModes, 0);
    s.naming_mode = read_index("NAMETYPE", kNamingModes, 0);
    s.time_mode = read_index("TIMEMODE", kTimeModes, 0);
    // Absent means off, so that files written before keep their behaviour.
    s.verify = read_index("VERIFY", 2, 0) == 1;
    ini.SetDataType(TiniType::DsString);
    s.verify_dir = read_string("VERIFYDIR", "");
    s.local_dir = read_string("LOCALDIR", "");
    s.ping_url = Trim(read_string("PINGURL", ""));
    s.hook_cmd = read_string("HOOKCMD", "");
    s.metrics_file = Trim(read_string("METRICSFILE", ""));
    return s;
}

std::string BackupDirProblem(const std::string& backup_dir) {
    const std::string dir = Trim(backup_dir);
    if (dir.empty()) return "沒有備份路徑 (BACKUPDIR)";
    const bool drive = dir.size() >= 3 && std::isalpha(static_cast<unsigned char>(dir[0])) &&
                       dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/');
    if (dir[0] == '/' || drive || dir.starts_with("\\\\")) return "";
    return "備份路徑 (BACKUPDIR) 不是伺服器上的絕對路徑: " + dir;
}

bool ProtocolOfIndex(int index, TProtocol* protocol) {
    switch (index) {
        case 0:
            *protocol = TProtocol::Local;
            return true;
        case 1:
            *protocol = TProtocol::NamedPipe;
            return true;
        case 2:
            *protocol = TProtocol::SPX;
            return true;
        case 3:
            *protocol = TProtocol::TCP;
            return true;
        default:
            return false;
    }
}

std::string SettingsId(const std::string& settings_path) {
    return Fnv1aHex(settings_path, 8);
}

}  // namespace qv
