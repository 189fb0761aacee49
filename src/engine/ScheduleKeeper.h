#pragma once
// The schedule, kept once for the window and the service: the one-minute timer on the clock's
// minutes, the armed schedule's record, each minute's decision (a missed line, a due run), the
// log and the state at a glance. The programs are views of it: they give the settings and
// whether the schedule is armed, and show each line and each change of the state as it comes.
#include <functional>
#include <string>
#include <vector>

#include "components/LogRecorder.h"
#include "engine/BackupRunner.h"
#include "engine/BackupSettings.h"
#include "engine/RunAlerts.h"
#include "engine/Schedule.h"
#include "engine/ScheduleRecord.h"
#include "platform/Timer.h"

namespace qv {

class TScheduleKeeper {
public:
    using TLineEvent = std::function<void(const std::string& message, TLinePriority priority)>;

    // `service` is the owner's backup component; without an attach handler of its own (a view
    // that also tests connections with it has one, calling StartAttached) it gets one.
    explicit TScheduleKeeper(TIBBackupService& service);
    ~TScheduleKeeper();
    TScheduleKeeper(const TScheduleKeeper&) = delete;
    TScheduleKeeper& operator=(const TScheduleKeeper&) = delete;

    // Where the log PROC_LOG.TXT and the record PROC_STATE.TXT are kept (ends in "/").
    void SetDirectory(const std::string& dir);
    const std::string& Directory() const { return dir_; }

    // The settings in force, asked at every minute (the window reads its controls).
    std::function<TBackupSettings()> Settings;
    // Whether the schedule is armed (the window's 啟動 and 停止; the service always is).
    std::function<bool()> Armed = [] { return true; };
    // A due minute's run: RunBackup unless a view stands in for it.
    std::function<void()> OnDue;
    // Each line once it is written, with its priority.
    TLineEvent OnLine;
    // After a run, arming, stopping, and a change of the settings: the state lines changed.
    std::function<void()> OnStateChanged;

    // Writes "YYYYMMDD.HHNNSS:line" to the log for each line of the message ("\n" between
    // them), then hands the message on.
    void Log(const std::string& message, TLinePriority priority = TLinePriority::Info);
    static std::vector<std::string> Lines(const std::string& message);

    // Start-up: the timer on; due minutes missed since the last run are made up once. The
    // view shows the state once it is ready to (the service with its READY=1).
    void Start();
    // The one-minute test (the timer calls it at the start of every minute).
    void Tick();
    // Armed by the user: a fresh record from this minute on.
    void Arm();
    // Stopped (or a setting changed): no record, so minutes while stopped are never missed.
    void Disarm();
    // The run of the current tick, with the settings in force.
    void RunBackup();
    // One backup now, named as a run at this minute would be.
    void BackupNow();
    // Verifies a backup file now (a run of its own).
    void Verify(const std::string& backup_file);
    // For a program that ends after one run: its pings and hook, at most timeout_ms.
    bool WaitForAlerts(int timeout_ms) { return alerts_.WaitIdle(timeout_ms); }
    // The end: the timer off, a run still going closed with its line, then "系統結束".
    void Close();
    // Tells the views that the state lines may have changed (a setting they watch changed).
    void StateChanged();

    // "上次備份 …" once a run has ended and "下次備份 …", as the tool-tip and STATUS= show them.
    std::vector<std::string> StateLines() const;
    std::string StatusText() const;

    const std::string& TickTime() const { return tick_time_; }
    bool Busy() const { return runner_.Busy(); }
    TBackupRunner& Runner() { return runner_; }
    TScheduleRecord& Record() { return record_; }
    TTimer& Timer() { return timer_; }
    TLogRecorder& Recorder() { return log_; }
    TRunAlerts& Alerts() { return alerts_; }
    // The timer's aim at the clock's next minute (see TMinuteAlignment).
    int NextDelay() { return alignment_.NextDelay(); }
    int EarlyBy() const { return alignment_.EarlyBy(); }

private:
    void Act(const TTickDecision& decision);
    // The next due minute's moment (seconds since the epoch) for the metrics; none when the
    // schedule is off or none is due in the next days.
    std::optional<int64_t> NextDueSeconds() const;

    TIBBackupService& service_;
    TBackupRunner runner_;
    TLogRecorder log_;
    TScheduleRecord record_;
    TRunAlerts alerts_;
    TMinuteAlignment alignment_;
    TTimer timer_;
    std::string dir_;
    std::string tick_time_;
};

}  // namespace qv
