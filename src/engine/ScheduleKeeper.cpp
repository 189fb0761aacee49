#include "engine/ScheduleKeeper.h"

#include <ctime>

#include "platform/Platform.h"

namespace qv {

TScheduleKeeper::TScheduleKeeper(TIBBackupService& service)
    : service_(service),
      runner_(service, [this](const std::string& m, TLinePriority p) { Log(m, p); }),
      log_(nullptr),
      alerts_([this](const std::string& m, TLinePriority p) { Log(m, p); }),
      timer_(nullptr) {
    // A view that also tests connections with the component has its own handler.
    if (!service_.OnAttach)
        service_.OnAttach = [this](TIBCustomService*) { runner_.StartAttached(); };
    runner_.OnRunEnded = [this] { StateChanged(); };
    runner_.OnBackupStarted = [this](const TBackupSettings& s) { alerts_.RunStarted(s); };
    runner_.OnBackupEnded = [this](const TBackupSettings& s, const TRunOutcome& outcome) {
        alerts_.RunEnded(s, outcome, NextDueSeconds());
    };
    log_.SetFileName("PROC_LOG");
    log_.SetFileNameMode(TFileNameMode::mCust);
    log_.SetFileExtName("TXT");
    timer_.SetEnabled(false);
    timer_.SetInterval(60000);
    timer_.NextDelay = [this] { return NextDelay(); };
    timer_.EarlyBy = [this] { return EarlyBy(); };
    timer_.OnTimer = [this] { Tick(); };
}

TScheduleKeeper::~TScheduleKeeper() = default;

void TScheduleKeeper::SetDirectory(const std::string& dir) {
    dir_ = dir;
    log_.SetDirectory(dir);
    record_.SetFile(dir + "PROC_STATE.TXT");
    alerts_.SetDirectory(dir);
}

void TScheduleKeeper::Log(const std::string& message, TLinePriority priority) {
    const LocalTime now = Clock().Now();
    const std::string stamp = DateText(now).substr(0, 8) + "." + TimeText(now).substr(0, 6) + ":";
    for (const std::string& line : Lines(message)) log_.WriteMessage(stamp + line);
    if (OnLine) OnLine(message, priority);
}

std::vector<std::string> TScheduleKeeper::Lines(const std::string& message) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = message.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(message.substr(at, end - at));
    lines.push_back(message.substr(at));
    return lines;
}

void TScheduleKeeper::Start() {
    timer_.SetEnabled(true);
    Act(DecideStartUp(record_, Settings().Schedule(), Clock().Read(), &tick_time_));
    alerts_.StartUp(Settings(), NextDueSeconds());
}

void TScheduleKeeper::Tick() {
    if (!Armed()) return;
    // The clock is read once: the record, the due test and the run's name see the same minute.
    Act(DecideTick(record_, Settings().Schedule(), Clock().Read(), &tick_time_));
}

void TScheduleKeeper::Act(const TTickDecision& decision) {
    if (!decision.missed_line.empty()) {
        Log(decision.missed_line, TLinePriority::Warning);
        alerts_.Missed(Settings(), decision.missed_count, decision.missed_line, NextDueSeconds());
    }
    if (!decision.record_warning.empty()) Log(decision.record_warning, TLinePriority::Warning);
    if (!decision.run) return;
    Log("備份條件符合");
    if (OnDue)
        OnDue();
    else
        RunBackup();
}

void TScheduleKeeper::Arm() {
    record_.Begin(Settings().Schedule(), Clock().Read());
}

void TScheduleKeeper::Disarm() {
    record_.End();
}

void TScheduleKeeper::RunBackup() {
    runner_.Run(Settings(), tick_time_);
}

void TScheduleKeeper::BackupNow() {
    runner_.Run(Settings(), TimeText(Clock().Now()).substr(0, 4));
}

void TScheduleKeeper::Verify(const std::string& backup_file) {
    runner_.Verify(Settings(), backup_file);
}

void TScheduleKeeper::Close() {
    timer_.SetEnabled(false);
    runner_.Close();
    Log("系統結束");
}

void TScheduleKeeper::StateChanged() {
    if (OnStateChanged) OnStateChanged();
}

std::optional<int64_t> TScheduleKeeper::NextDueSeconds() const {
    if (!Armed()) return std::nullopt;
    const std::optional<LocalTime> next = NextDueMinute(Settings().Schedule(), Clock().Now());
    if (!next) return std::nullopt;
    std::tm tm = TmOfMinute(*next);
    return static_cast<int64_t>(std::mktime(&tm));
}

std::vector<std::string> TScheduleKeeper::StateLines() const {
    std::optional<LocalTime> next;
    if (Armed()) next = NextDueMinute(Settings().Schedule(), Clock().Now());
    return qv::StateLines(runner_.LastRun(), next);
}

std::string TScheduleKeeper::StatusText() const {
    std::string status;
    for (const std::string& part : StateLines()) status += (status.empty() ? "" : "; ") + part;
    return status;
}

}  // namespace qv
