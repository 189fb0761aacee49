#pragma once
// One backup run at a time, free of widgets: the backup file's name, the service manager's
// attach, start and detach, and the backup followed to its outcome, each step reported as a
// log line. The window is one view of it, the headless service another.
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/BackupSettings.h"
#include "engine/LinePriority.h"
#include "engine/RunOutcome.h"
#include "firebird/BackupFollower.h"
#include "firebird/BackupStreamer.h"
#include "firebird/BackupVerifier.h"
#include "platform/Clock.h"
#include "firebird/IBServices.h"

namespace qv {

// The last run that has ended: when it started and the text of its last line.
struct TRunReport {
    LocalTime started;
    std::string last_line;
    bool succeeded = false;
};

class TBackupRunner {
public:
    // `service` is the owner's backup component; its attach handler must call StartAttached
    // while a run attaches. Lines are reported on the thread that made the runner.
    TBackupRunner(TIBBackupService& service, TLineEvent on_line);
    ~TBackupRunner();
    TBackupRunner(const TBackupRunner&) = delete;
    TBackupRunner& operator=(const TBackupRunner&) = delete;

    // Fills the backup component for a run or a connection test (the same steps for both).
    void Fill(const TBackupSettings& settings, const std::string& backup_file);
    // One backup run with these settings, named for the tick's HHNN; reports its own failures.
    void Run(const TBackupSettings& settings, const std::string& tick_time);
    // The attach handler's work in a run: logs, starts the backup, follows it.
    void StartAttached();
    // Restores a backup file of this machine, fed to the server, into a scratch database and
    // drops it, as after a completed backup when verification is on; a run of its own.
    void Verify(const TBackupSettings& settings, const std::string& backup_file);

    // Whether a started run (a backup, its copy here, their verifications) has not ended yet.
    bool Busy() const { return follower_ || verifier_ || streamer_; }
    // At the program's end: a run that has ended gets its outcome line, one still going gets
    // its own line and its attachment is closed, waiting at most kEndingDetachMs for a backup
    // and kEndingVerifyMs for a verification, which also drops its scratch database (within a
    // service manager's stop time of 15 s).
    void Close();
    static constexpr int kEndingDetachMs = 3000;
    static constexpr int kEndingVerifyMs = 10000;

    // How often a followed backup is asked about (tests make it short).
    int follow_poll_ms = 1000;
    // Runs after each run's last line.
    std::function<void()> OnRunEnded;
    // A backup run (not a verification by hand) has sent its first request (a run that fails
    // before any is not told), and ends with its outcome: what the alerts tell a person away
    // from the desktop.
    std::function<void(const TBackupSettings&)> OnBackupStarted;
    std::function<void(const TBackupSettings&, const TRunOutcome&)> OnBackupEnded;
    const std::optional<TRunReport>& LastRun() const { return last_run_; }

private:
    void Line(const std::string& message, TLinePriority priority);
    // A run begins: its settings, its start, nothing yet said.
    void Begin(const TBackupSettings& settings, bool backup_run);
    void TellStarted();
    // A step of the run ended with its line: the run goes on with its next step, or ends.
    // told: the line as the alerts tell it, when it says more than the line (its reason).
    void StepEnded(const std::string& line, bool succeeded, const std::string& told = "");
    void RunEnded();
    void Follow(const std::string& backup_file);
    void BackupEnded(const TBackupOutcome& outcome);
    // local_file: the file to feed to the server; empty: the server reads followed_file_.
    void StartVerifying(const std::string& local_file);
    // The copy on this machine, streamed from the server after the server's own backup.
    void StartStreaming();
    void StreamEnded(const TStreamOutcome& outcome);
    void VerifyEnded(const TVerifyOutcome& outcome);
    // At the program's end: a worker's outcome handled when it is known, else its line and a
    // bounded stop.
    template <class Worker, class Outcome>
    void EndAtClose(std::unique_ptr<Worker>& worker, void (TBackupRunner::*ended)(const Outcome&),
                    const std::string& still_going, int stop_ms);
    // Hands an outcome from a worker's thread to the runner's.
    template <class Outcome>
    void Deliver(const Outcome& outcome, void (TBackupRunner::*ended)(const Outcome&));

    TIBBackupService& service_;
    TLineEvent on_line_;
    std::unique_ptr<QObject> context_;  // a follower's report reaches the runner's thread here
    std::unique_ptr<TBackupFollower> follower_;
    std::unique_ptr<TBackupVerifier> verifier_;
    std::unique_ptr<TBackupStreamer> streamer_;
    bool closing_ = false;  // no verification starts while the program ends
    std::string followed_file_;
    TBackupSettings settings_;  // of the run in progress
    LocalTime started_;
    int64_t started_utc_ms_ = 0;
    // The run in progress: whether it is a backup run, the server's file (empty when BACKUPDIR
    // is), the first failure's line and the last line, and what its verifications proved.
    bool backup_run_ = false;
    std::string server_file_;
    std::string local_path_;     // the copy on this machine; empty when LOCALDIR is
    bool copy_pending_ = false;  // the copy is still to be made
    std::optional<int64_t> bytes_;
    std::string failed_line_;
    std::string failed_told_;
    std::string last_line_;
    std::optional<bool> verified_;
    bool started_told_ = false;
    std::optional<TRunReport> last_run_;
};

// The state at a glance: "上次備份 <minute> <its last line>" once a run has ended, and
// "下次備份 <minute>" ("下次備份 無" when none is due in the next 8 days or the schedule is off).
std::vector<std::string> StateLines(const std::optional<TRunReport>& last_run,
                                    const std::optional<LocalTime>& next_due);

// The server's text on one line: each CR LF between its messages becomes one blank.
std::string OneLine(std::string text);
// The same, and any other line break a blank too: a reason that must stay one log line.
std::string SingleLine(const std::string& text);

}  // namespace qv
