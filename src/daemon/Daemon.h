#pragma once
// The headless service: the window's schedule, naming, request and outcome, kept by a process
// with no window, for systemd (one instance per settings file) or cron (one backup now).
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/BackupRunner.h"
#include "engine/BackupSettings.h"
#include "components/LogRecorder.h"
#include "engine/Schedule.h"
#include "engine/ScheduleRecord.h"
#include "platform/ServiceNotifier.h"
#include "platform/Timer.h"

class QTimer;

namespace qv {

struct TDaemonOptions {
    enum class Mode { Schedule, BackupNow, Verify };
    Mode mode = Mode::Schedule;
    std::string config;
    std::string verify_file;  // --verify: the backup file on this machine, fed to the server
};

constexpr const char* kDaemonUsage = "quorvaned --config FILE [--backup-now | --verify BACKUP]";

// Parses the arguments after the program's name; false with the problem in *error.
bool ParseDaemonOptions(const std::vector<std::string>& args, TDaemonOptions* options,
                        std::string* error);

// What systemd gives a unit's process (empty when unset).
struct TDaemonEnvironment {
    std::string state_directory;    // StateDirectory=, the first when several
    std::string runtime_directory;  // RuntimeDirectory=
    std::string xdg_runtime_dir;
    std::string credentials_directory;  // LoadCredential=

    static TDaemonEnvironment FromProcess();
};

// What the service runs with, all checked before anything else happens.
struct TDaemonSetup {
    std::string config;  // the settings file's real path
    TBackupSettings settings;
    std::string log_dir;      // ends in "/"
    std::string lock_dir;     // where the one-instance lock lives
    std::string verify_file;  // --verify's file, absolute
    bool password_from_credentials = false;
    bool exposed_password = false;  // other users may read the settings file, which holds one
};

// Reads and checks the settings file, the log's directory and the lock's; false with one line
// naming the problem in *error.
bool PrepareDaemon(const TDaemonOptions& options, const TDaemonEnvironment& env,
                   TDaemonSetup* setup, std::string* error);

// The lock file's name for a settings file: the same real path gives the same name.
std::string InstanceLockName(const std::string& config_real_path);

// Whether the descriptor is the journal's stream: $JOURNAL_STREAM names its device and inode.
bool IsJournalStream(const char* journal_stream, int fd);

// Every line to the log, as the window writes it, and to `out`, where the journal reads its
// priority from a "<N>" prefix.
class TDaemonLog {
public:
    TDaemonLog(const std::string& log_dir, std::FILE* out, bool journal);
    void Write(const std::string& message, TLinePriority priority);

private:
    TLogRecorder recorder_;
    std::FILE* out_;
    bool journal_;
};

class TBackupDaemon {
public:
    TBackupDaemon(const TDaemonSetup& setup, TDaemonLog& log, IServiceNotifier& notifier);
    ~TBackupDaemon();
    TBackupDaemon(const TBackupDaemon&) = delete;
    TBackupDaemon& operator=(const TBackupDaemon&) = delete;

    // Logs the start, arms the schedule and tells the manager it is ready.
    void Start();
    // The once-a-minute test; the timer calls it at the start of every minute.
    void Tick();
    // Tells the manager it is stopping, closes a followed run and logs the end.
    void Stop();
    // One backup now, named as a run at this minute would be.
    void BackupNow();
    // Verifies a backup file of this machine now, fed to the server.
    void VerifyNow(const std::string& backup_file);

    bool Busy() const { return runner_.Busy(); }
    const std::optional<TRunReport>& LastRun() const { return runner_.LastRun(); }
    std::string Status() const;
    TBackupRunner& Runner() { return runner_; }

private:
    void SendStatus();
    void Act(const TTickDecision& decision, const std::string& tick_time);

    TDaemonSetup setup_;
    TDaemonLog& log_;
    IServiceNotifier& notifier_;
    TIBBackupService service_;
    TBackupRunner runner_;
    TMinuteAlignment alignment_;
    TScheduleRecord record_;  // the last minute checked, in the state directory
    TTimer timer_;
    std::unique_ptr<QTimer> watchdog_;
};

}  // namespace qv
