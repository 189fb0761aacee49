#pragma once
// The headless service: a view of the engine's schedule kept by a process with no window, for
// systemd (one instance per settings file) or cron (one backup now). It reads and checks its
// settings file, prints each line for the journal and tells systemd its state.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/BackupSettings.h"
#include "engine/ScheduleKeeper.h"
#include "platform/FileLock.h"
#include "platform/ServiceNotifier.h"

class QTimer;

namespace qv {

struct TDaemonOptions {
    enum class Mode { Schedule, BackupNow, Verify, Help, Version };
    Mode mode = Mode::Schedule;
    std::string config;
    std::string verify_file;  // --verify: the backup file on this machine, fed to the server
};

constexpr const char* kDaemonUsage = "quorvaned --config FILE [--backup-now | --verify BACKUP]";

// Parses the arguments after the program's name; false with the problem in *error.
bool ParseDaemonOptions(const std::vector<std::string>& args, TDaemonOptions* options,
                        std::string* error);
// What --help prints.
std::string DaemonHelp();

// What systemd gives a unit's process (empty when unset).
struct TDaemonEnvironment {
    std::string state_directory;        // StateDirectory=, the first when several
    std::string credentials_directory;  // LoadCredential=

    static TDaemonEnvironment FromProcess();
};

// What the service runs with, all checked before anything else happens.
struct TDaemonSetup {
    std::string config;  // the settings file's real path
    TBackupSettings settings;
    std::string log_dir;      // ends in "/"
    std::string verify_file;  // --verify's file, absolute
    bool password_from_credentials = false;
    bool exposed_password = false;  // other users may read the settings file, which holds one
};

// Reads and checks the settings file and the log's directory; false with one line naming the
// problem in *error. A schedule or a backup now also refuses a settings file beside it that
// would write the same backup files (the same server and BACKUPDIR, automatic names).
bool PrepareDaemon(const TDaemonOptions& options, const TDaemonEnvironment& env,
                   TDaemonSetup* setup, std::string* error);

// Whether the descriptor is the journal's stream: $JOURNAL_STREAM names its device and inode.
bool IsJournalStream(const char* journal_stream, int fd);

// Prints each line for the journal, where its priority is read from a "<N>" prefix.
class TJournalPrinter {
public:
    TJournalPrinter(std::FILE* out, bool journal) : out_(out), journal_(journal) {}
    void Print(const std::string& line, TLinePriority priority);

private:
    std::FILE* out_;
    bool journal_;
};

class TBackupDaemon {
public:
    // `lock` holds the settings file (taken before anything was written); a reload takes it
    // again on whatever file the path names then.
    TBackupDaemon(const TDaemonOptions& options, const TDaemonEnvironment& env,
                  const TDaemonSetup& setup, TFileLock& lock, std::FILE* out, bool journal,
                  IServiceNotifier& notifier);
    ~TBackupDaemon();
    TBackupDaemon(const TBackupDaemon&) = delete;
    TBackupDaemon& operator=(const TBackupDaemon&) = delete;

    // Logs the start, arms the schedule and tells the manager it is ready.
    void Start();
    // Reads the settings file again (SIGHUP): the new settings from the next minute on, or the
    // old ones kept with the reason.
    void Reload();
    // Tells the manager it is stopping, closes a followed run and logs the end.
    void Stop();
    // One backup now, named as a run at this minute would be.
    void BackupNow() { keeper_.BackupNow(); }
    // Verifies a backup file of this machine now, fed to the server.
    void VerifyNow(const std::string& backup_file) { keeper_.Verify(backup_file); }

    bool Busy() const { return keeper_.Busy(); }
    const std::optional<TRunReport>& LastRun() { return keeper_.Runner().LastRun(); }
    std::string Status() const { return keeper_.StatusText(); }
    TScheduleKeeper& Keeper() { return keeper_; }
    const TDaemonSetup& Setup() const { return setup_; }

private:
    void WarnIfExposed();

    TDaemonOptions options_;
    TDaemonEnvironment env_;
    TDaemonSetup setup_;
    TFileLock& lock_;
    TJournalPrinter printer_;
    IServiceNotifier& notifier_;
    TIBBackupService service_;
    TScheduleKeeper keeper_;
    std::unique_ptr<QTimer> watchdog_;
};

}  // namespace qv
