#include "daemon/Daemon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/FilePlaces.h"
#include "platform/Files.h"
#include "components/IniFil.h"
#include "platform/Platform.h"
#include "platform/Profile.h"
#include "platform/Strings.h"

namespace qv {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// A directory only its owner may write (a lock there cannot be planted by someone else).
bool PrivateDirectory(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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

TDaemonEnvironment TDaemonEnvironment::FromProcess() {
    TDaemonEnvironment e;
    const std::string state = Env("STATE_DIRECTORY");
    e.state_directory = state.substr(0, state.find(':'));
    const std::string runtime = Env("RUNTIME_DIRECTORY");
    e.runtime_directory = runtime.substr(0, runtime.find(':'));
    e.xdg_runtime_dir = Env("XDG_RUNTIME_DIR");
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
    if (UpperAscii(s.config).find(".INI") == std::string::npos) {
        *error = file + ": a settings file's name must end in .ini";
        return false;
    }
    TIni ini(nullptr);
    ini.SetSection("Para");
    ini.SetFileName(s.config);
    s.settings = ReadBackupSettings(ini);
    s.settings.settings_id = SettingsId(s.config);
    if (Trim(s.settings.server_name).empty()) {
        *error = file + ": no server name (SERVERNAME) in section [Para]";
        return false;
    }
    if (Trim(s.settings.database_name).empty()) {
        *error = file + ": no database name (DATABASENAME) in section [Para]";
        return false;
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

    for (const std::string& dir : {env.runtime_directory, env.xdg_runtime_dir, s.log_dir}) {
        if (PrivateDirectory(dir)) {
            s.lock_dir = dir;
            break;
        }
    }
    if (options.mode == TDaemonOptions::Mode::Schedule && s.lock_dir.empty()) {
        *error = "no directory for the instance lock that only this user may write";
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

std::string InstanceLockName(const std::string& config_real_path) {
    return "quorvaned-" + Fnv1aHex(config_real_path, 16);
}

bool IsJournalStream(const char* journal_stream, int fd) {
    if (!journal_stream || !*journal_stream) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(journal_stream, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

TDaemonLog::TDaemonLog(const std::string& log_dir, std::FILE* out, bool journal)
    : recorder_(nullptr), out_(out), journal_(journal) {
    recorder_.SetDirectory(log_dir);
    recorder_.SetFileName("PROC_LOG");
    recorder_.SetFileNameMode(TFileNameMode::mCust);
    recorder_.SetFileExtName("TXT");
}

void TDaemonLog::Write(const std::string& message, TLinePriority priority) {
    const LocalTime now = Clock().Now();
    const std::string line =
        DateText(now).substr(0, 8) + "." + TimeText(now).substr(0, 6) + ":" + message;
    recorder_.WriteMessage(line);
    if (!out_) return;
    if (journal_) std::fprintf(out_, "<%d>", static_cast<int>(priority));
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

TBackupDaemon::TBackupDaemon(const TDaemonSetup& setup, TDaemonLog& log, IServiceNotifier& notifier)
    : setup_(setup),
      log_(log),
      notifier_(notifier),
      service_(nullptr),
      runner_(service_, [this](const std::string& m, TLinePriority p) { log_.Write(m, p); }),
      record_(setup.log_dir + "PROC_STATE.TXT"),
      timer_(nullptr) {
    service_.SetProtocol(TProtocol::TCP);
    service_.SetLoginPrompt(false);
    service_.OnAttach = [this](TIBCustomService*) { runner_.StartAttached(); };
    runner_.OnRunEnded = [this] { SendStatus(); };
    timer_.SetEnabled(false);
    timer_.NextDelay = [this] { return alignment_.NextDelay(); };
    timer_.EarlyBy = [this] { return alignment_.EarlyBy(); };
    timer_.SetInterval(60000);
    timer_.OnTimer = [this] { Tick(); };
}

TBackupDaemon::~TBackupDaemon() = default;

std::string TBackupDaemon::Status() const {
    std::string status;
    for (const std::string& part :
         StateLines(runner_.LastRun(), NextDueMinute(setup_.settings.Schedule(), Clock().Now())))
        status += (status.empty() ? "" : "; ") + part;
    return status;
}

void TBackupDaemon::SendStatus() {
    notifier_.Notify("STATUS=" + Status());
}

void TBackupDaemon::Start() {
    log_.Write("程式執行", TLinePriority::Info);
    if (setup_.exposed_password)
        log_.Write("設定檔 " + setup_.config + " 含有密碼，其他使用者也能讀取",
                   TLinePriority::Warning);
    timer_.SetEnabled(true);
    // Always armed: a gap since the last run of the service (a reboot) is made up once.
    std::string tick_time;
    Act(DecideStartUp(record_, setup_.settings.Schedule(), &tick_time), tick_time);
    notifier_.Notify("READY=1\nSTATUS=" + Status());
    if (const uint64_t usec = notifier_.WatchdogUsec()) {
        watchdog_ = std::make_unique<QTimer>();
        QObject::connect(watchdog_.get(), &QTimer::timeout,
                         [this] { notifier_.Notify("WATCHDOG=1"); });
        watchdog_->start(static_cast<int>(usec / 2000));
    }
}

void TBackupDaemon::Tick() {
    std::string tick_time;
    Act(DecideTick(record_, setup_.settings.Schedule(), &tick_time), tick_time);
}

void TBackupDaemon::Act(const TTickDecision& decision, const std::string& tick_time) {
    if (!decision.missed_line.empty()) log_.Write(decision.missed_line, TLinePriority::Warning);
    if (!decision.run) return;
    log_.Write("備份條件符合", TLinePriority::Info);
    runner_.Run(setup_.settings, tick_time);
}

void TBackupDaemon::Stop() {
    notifier_.Notify("STOPPING=1");
    timer_.SetEnabled(false);
    if (watchdog_) watchdog_->stop();
    runner_.Close();
    log_.Write("系統結束", TLinePriority::Info);
}

void TBackupDaemon::BackupNow() {
    runner_.Run(setup_.settings, TimeText(Clock().Now()).substr(0, 4));
}

void TBackupDaemon::VerifyNow(const std::string& backup_file) {
    runner_.Verify(setup_.settings, backup_file);
}

}  // namespace qv
