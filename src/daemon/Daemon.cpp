#include "daemon/Daemon.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "components/IniFil.h"
#include "platform/FilePlaces.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Profile.h"
#include "platform/Strings.h"

namespace qv {

namespace {

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// --verify reads the file here and feeds it to the server: one it cannot read is refused
// before the server is asked.
bool CanReadBackupFile(const std::string& file, std::string* error) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    std::string why = fd < 0 ? std::strerror(errno) : "";
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) why = "not a regular file";
    if (fd >= 0) close(fd);
    if (why.empty()) return true;
    *error = "cannot read " + file + ": " + why +
             " (--verify reads the backup file on this machine: run it on the database server, "
             "as a user who may read the file)";
    return false;
}

std::string FirstLine(const std::string& text) {
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

bool IsIniName(const std::string& name) {
    return UpperAscii(name).find(".INI") != std::string::npos;
}

TBackupSettings ReadSettingsFile(const std::string& file) {
    TIni ini(nullptr);
    ini.SetSection("Para");
    ini.SetFileName(file);
    return ReadBackupSettings(ini);
}

// A backup directory as the server would open it: "/bak/", "/bak" and "/x/../bak" are one.
std::string SameDirectory(const std::string& dir) {
    std::string d = LexicallyNormal(Trim(dir));
    while (d.size() > 1 && (d.back() == '/' || d.back() == '\\')) d.pop_back();
    return d;
}

// Whether two settings would write the same backup files (the automatic names repeat: HHNN,
// DayDD, WeekD): one server and one BACKUPDIR, or one LOCALDIR on this machine, whatever the
// servers. The key they share, or "".
std::string WriteTheSameFiles(const TBackupSettings& a, const TBackupSettings& b) {
    if (a.naming_mode != 0 || b.naming_mode != 0) return "";
    if (!Trim(a.server_name).empty() &&
        LowerAscii(Trim(a.server_name)) == LowerAscii(Trim(b.server_name)) &&
        !Trim(a.backup_dir).empty() && SameDirectory(a.backup_dir) == SameDirectory(b.backup_dir))
        return "the same server and BACKUPDIR";
    if (!Trim(a.local_dir).empty() && SameDirectory(a.local_dir) == SameDirectory(b.local_dir))
        return "the same LOCALDIR";
    return "";
}

// Another settings file beside `config` that writes the same backup files and what it shares
// with this one, or "".
std::string SiblingWritingTheSameFiles(const std::string& config, const TBackupSettings& own,
                                       std::string* shared) {
    const std::string dir = ParentDirectory(config);
    DIR* d = opendir(dir.c_str());
    if (!d) return "";
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && UpperAscii(name.substr(name.size() - 4)) == ".INI")
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        char* resolved = realpath((WithSlash(dir) + name).c_str(), nullptr);
        const std::string other = resolved ? resolved : "";
        std::free(resolved);
        // A link to this file is no other; a link to another is that file, named as it is.
        struct stat st {};
        if (other.empty() || other == config || stat(other.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode) || access(other.c_str(), R_OK) != 0)
            continue;
        *shared = WriteTheSameFiles(own, ReadSettingsFile(other));
        if (!shared->empty()) return other;
    }
    return "";
}

// Each missing directory of the path, owner-only (a failure shows at the run, with its reason).
void MakeMissingDirectories(const std::string& dir) {
    for (size_t at = 1; at != std::string::npos;) {
        at = dir.find('/', at + 1);
        const std::string part = dir.substr(0, at);
        if (!FileExists(part)) MakeDirectory(part, 0700);
    }
}

}  // namespace

bool ParseDaemonOptions(const std::vector<std::string>& args, TDaemonOptions* options,
                        std::string* error) {
    TDaemonOptions o;
    bool mode_given = false;
    auto value_of = [&](size_t& i, const char* option, std::string* out) {
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            *error = std::string(option) + " needs a value";
            return false;
        }
        *out = args[++i];
        return true;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h" || a == "--version") {
            options->mode =
                a == "--version" ? TDaemonOptions::Mode::Version : TDaemonOptions::Mode::Help;
            return true;
        }
        if (a == "--config") {
            if (!value_of(i, "--config", &o.config)) return false;
        } else if (a == "--backup-now" || a == "--verify") {
            if (mode_given) {
                *error = "--backup-now and --verify are one each, and not together";
                return false;
            }
            mode_given = true;
            if (a == "--verify") {
                o.mode = TDaemonOptions::Mode::Verify;
                if (!value_of(i, "--verify", &o.verify_file)) return false;
            } else {
                o.mode = TDaemonOptions::Mode::BackupNow;
            }
        } else {
            *error = "unknown option " + a;
            return false;
        }
    }
    if (o.config.empty()) {
        *error = "no settings file given";
        return false;
    }
    *options = o;
    return true;
}

std::string DaemonHelp() {
    return std::string("Usage: ") + kDaemonUsage +
           "\n"
           "Keeps the backup schedule of one Firebird database without a window.\n"
           "\n"
           "  --config FILE    the settings file (section [Para], the desktop's keys)\n"
           "  --backup-now     one backup now, waiting for its outcome (and verification)\n"
           "  --verify BACKUP  restores a backup file read on this machine into a scratch\n"
           "                   database on the server, which is then dropped\n"
           "  --help, --version\n"
           "\n"
           "Without --backup-now or --verify it keeps the schedule until SIGTERM; SIGHUP reads\n"
           "the settings file again. Exit status: 0 success, 1 a failed backup or\n"
           "verification, 2 a usage or settings error, or a settings file another process\n"
           "keeps.\n";
}

TDaemonEnvironment TDaemonEnvironment::FromProcess() {
    TDaemonEnvironment e;
    const std::string state = Env("STATE_DIRECTORY");
    e.state_directory = state.substr(0, state.find(':'));
    e.credentials_directory = Env("CREDENTIALS_DIRECTORY");
    return e;
}

bool PrepareDaemon(const TDaemonOptions& options, const TDaemonEnvironment& env,
                   TDaemonSetup* setup, std::string* error) {
    TDaemonSetup s;
    const std::string& file = options.config;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    if (!regular) {
        *error = "cannot read " + file + ": not a regular file";
        return false;
    }
    char* real = realpath(file.c_str(), nullptr);
    s.config = real ? real : file;
    std::free(real);
    // The settings component finds its file by the ".ini" in its name.
    if (!IsIniName(s.config)) {
        *error = file + ": a settings file's name must end in .ini";
        return false;
    }
    const ProfileReadsHeld one_read(ProfileFiles());  // the file parsed once
    s.settings = ReadSettingsFile(s.config);
    // --verify runs beside the instance of its settings file (it takes no lock): its scratch
    // database is its own.
    s.settings.settings_id = SettingsId(
        options.mode == TDaemonOptions::Mode::Verify ? s.config + " --verify" : s.config);
    if (Trim(s.settings.server_name).empty()) {
        *error = file + ": no server name (SERVERNAME) in section [Para]";
        return false;
    }
    if (Trim(s.settings.database_name).empty()) {
        *error = file + ": no database name (DATABASENAME) in section [Para]";
        return false;
    }
    s.settings.settings_file = s.config;
    const std::string backup_dir = Trim(s.settings.backup_dir);
    const std::string local_dir = Trim(s.settings.local_dir);
    if (options.mode != TDaemonOptions::Mode::Verify) {
        // A backup on the server, a copy on this machine, or both; never neither.
        if (backup_dir.empty() && local_dir.empty()) {
            *error = file +
                     ": BACKUPDIR must be an absolute directory on the server, or LOCALDIR one "
                     "on this machine (both are empty)";
            return false;
        }
        if (!backup_dir.empty() && !BackupDirProblem(backup_dir).empty()) {
            *error = file + ": BACKUPDIR must be an absolute directory on the server (not " +
                     backup_dir + ")";
            return false;
        }
        if (!local_dir.empty() && local_dir[0] != '/') {
            *error = file + ": LOCALDIR must be an absolute directory on this machine (not " +
                     local_dir + ")";
            return false;
        }
        std::string shared;
        const std::string other = SiblingWritingTheSameFiles(s.config, s.settings, &shared);
        if (!other.empty()) {
            *error = file + ": " + other + " names " + shared +
                     " with automatic names, so each would overwrite the other's backups; give "
                     "each database a directory of its own";
            return false;
        }
        // The service's own place for copies is made when missing (owner-only); anywhere else a
        // missing directory (a disk not mounted) fails each run, never created underneath.
        if (!local_dir.empty() && !env.state_directory.empty() &&
            SameDirectory(local_dir).starts_with(WithSlash(SameDirectory(env.state_directory))))
            MakeMissingDirectories(SameDirectory(local_dir));
    }

    if (!env.credentials_directory.empty()) {
        std::string password;
        bool found = false;
        if (ReadWholeFile(env.credentials_directory + "/password", &password, &found) && found) {
            s.settings.password = FirstLine(password);
            s.password_from_credentials = true;
        }
    }
    const bool holds_password = ProfileFiles().ReadString(s.config, "Para", "PASSWORD", "") != "";
    s.exposed_password = holds_password && (st.st_mode & S_IROTH) != 0;

    s.log_dir =
        WithSlash(!env.state_directory.empty() ? env.state_directory : ParentDirectory(s.config));
    const std::string log_file = s.log_dir + FilePlaces::kLogName;
    if (!DirectoryWritable(s.log_dir) || !FileWritableOrAbsent(log_file)) {
        *error = "cannot write the log " + log_file;
        return false;
    }
    if (options.mode == TDaemonOptions::Mode::Verify) {
        if (!CanReadBackupFile(options.verify_file, error)) return false;
        // Its directory is the scratch database's default: never a relative name for the server.
        s.verify_file = std::filesystem::absolute(options.verify_file).lexically_normal();
    }
    *setup = s;
    return true;
}

bool IsJournalStream(const char* journal_stream, int fd) {
    if (!journal_stream || !*journal_stream) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(journal_stream, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

void TJournalPrinter::Print(const std::string& line, TLinePriority priority) {
    if (!out_) return;
    if (journal_) std::fprintf(out_, "<%d>", static_cast<int>(priority));
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

TBackupDaemon::TBackupDaemon(const TDaemonOptions& options, const TDaemonEnvironment& env,
                             const TDaemonSetup& setup, TFileLock& lock, std::FILE* out,
                             bool journal, IServiceNotifier& notifier)
    : options_(options),
      env_(env),
      setup_(setup),
      lock_(lock),
      printer_(out, journal),
      notifier_(notifier),
      service_(nullptr),
      keeper_(service_) {
    service_.SetProtocol(TProtocol::TCP);
    service_.SetLoginPrompt(false);
    keeper_.SetDirectory(setup_.log_dir);
    keeper_.Alerts().SetInstance(Env("QUORVANE_INSTANCE"));  // the unit's instance name
    keeper_.Settings = [this] { return setup_.settings; };
    keeper_.OnLine = [this](const std::string& message, TLinePriority priority) {
        // The journal adds its own time stamp; the line is printed as the log has it.
        const LocalTime now = Clock().Now();
        const std::string stamp =
            DateText(now).substr(0, 8) + "." + TimeText(now).substr(0, 6) + ":";
        for (const std::string& line : TScheduleKeeper::Lines(message))
            printer_.Print(stamp + line, priority);
    };
    keeper_.OnStateChanged = [this] { notifier_.Notify("STATUS=" + keeper_.StatusText()); };
}

TBackupDaemon::~TBackupDaemon() = default;

void TBackupDaemon::WarnIfExposed() {
    if (setup_.exposed_password)
        keeper_.Log("設定檔 " + setup_.config + " 含有密碼，其他使用者也能讀取",
                    TLinePriority::Warning);
}

void TBackupDaemon::Start() {
    keeper_.Log("程式執行");
    WarnIfExposed();
    // Always armed: a gap since the last run of the service (a reboot) is made up once.
    keeper_.Start();
    notifier_.Notify("READY=1\nSTATUS=" + keeper_.StatusText());
    if (const uint64_t usec = notifier_.WatchdogUsec()) {
        watchdog_ = std::make_unique<QTimer>();
        QObject::connect(watchdog_.get(), &QTimer::timeout,
                         [this] { notifier_.Notify("WATCHDOG=1"); });
        watchdog_->start(static_cast<int>(usec / 2000));
    }
}

void TBackupDaemon::Reload() {
    notifier_.Notify("RELOADING=1");
    TDaemonSetup fresh;
    std::string problem;
    bool ok = PrepareDaemon(options_, env_, &fresh, &problem);
    // The file's path may name another file now (an editor that writes a new one): that one is
    // held from now on, or the reload is refused while another process holds it.
    if (ok && !lock_.Path().empty() && !lock_.Reacquire(&problem)) {
        problem = setup_.config + ": " + problem;
        ok = false;
    }
    if (ok) {
        setup_ = fresh;
        keeper_.Log("重新讀取設定");
        WarnIfExposed();
    } else {
        keeper_.Log("重新讀取設定失敗，沿用原設定：" + problem, TLinePriority::Failure);
    }
    keeper_.StateChanged();
    notifier_.Notify("READY=1\nSTATUS=" + keeper_.StatusText());
}

void TBackupDaemon::Stop() {
    notifier_.Notify("STOPPING=1");
    if (watchdog_) watchdog_->stop();
    keeper_.Close();
}

}  // namespace qv
