#include "engine/RunAlerts.h"

#include <chrono>

#include "platform/Platform.h"

namespace qv {

TRunAlerts::TRunAlerts(TLineEvent on_line) : on_line_(on_line), hook_(std::move(on_line)) {}

TRunAlerts::~TRunAlerts() = default;

void TRunAlerts::SetDirectory(const std::string& dir) {
    history_file_ = dir + kRunHistoryFileName;
    std::string warning;
    history_ = LoadRunHistory(history_file_, &warning);
    if (!warning.empty() && on_line_) on_line_(warning, TLinePriority::Warning);
}

void TRunAlerts::SetPinger(std::unique_ptr<TPinger> pinger) {
    pinger_ = std::move(pinger);
}

void TRunAlerts::Ping(const TBackupSettings& s, TPingKind kind, const std::string& body) {
    if (s.ping_url.empty()) return;
    if (!pinger_)
        pinger_ = std::make_unique<TPinger>([this](const std::string& line) {
            if (on_line_) on_line_(line, TLinePriority::Warning);
        });
    pinger_->Ping(s.ping_url, kind, body);
}

void TRunAlerts::StartUp(const TBackupSettings& s, std::optional<int64_t> next_due) {
    Record(s, next_due, false);
}

void TRunAlerts::RunStarted(const TBackupSettings& s) {
    Ping(s, TPingKind::Start, "");
}

void TRunAlerts::RunEnded(const TBackupSettings& s, const TRunOutcome& outcome,
                          std::optional<int64_t> next_due) {
    const bool ok = outcome.kind == TOutcomeKind::Success;
    Ping(s, ok ? TPingKind::Success : TPingKind::Fail, outcome.line);
    if (!s.hook_cmd.empty()) hook_.Run(s.hook_cmd, outcome, s.settings_file);
    history_.Add(outcome);
    Record(s, next_due, true);
}

void TRunAlerts::Missed(const TBackupSettings& s, int count, const std::string& line,
                        std::optional<int64_t> next_due) {
    if (!s.hook_cmd.empty()) {
        TRunOutcome outcome;
        outcome.kind = TOutcomeKind::Missed;
        outcome.line = line;
        outcome.database = s.database_name;
        outcome.server = s.server_name;
        outcome.started = outcome.ended = Clock().Read().utc_ms / 1000;
        hook_.Run(s.hook_cmd, outcome, s.settings_file);
    }
    history_.AddMissed(count);
    Record(s, next_due, true);
}

void TRunAlerts::Record(const TBackupSettings& s, std::optional<int64_t> next_due,
                        bool changed_history) {
    // Each failure said once, until a write succeeds again: a full disk is not a line a minute.
    auto said_once = [this](const std::string& warning, bool* failing) {
        if (!warning.empty() && !*failing && on_line_) on_line_(warning, TLinePriority::Warning);
        *failing = !warning.empty();
    };
    // Kept only for the metrics: without them no new file appears beside the log.
    if (s.metrics_file.empty()) return;
    if (changed_history && !history_file_.empty())
        said_once(SaveRunHistory(history_file_, history_), &history_failing_);
    said_once(WriteMetricsFile(s.metrics_file,
                               MetricsText(history_, s.database_name, instance_, next_due)),
              &metrics_failing_);
}

bool TRunAlerts::WaitIdle(int timeout_ms) {
    // The pings on their thread and the hook on this one's event loop end side by side.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const bool pings_done = !pinger_ || pinger_->WaitIdle(20);
        const bool hook_done = hook_.WaitIdle(20);
        if (pings_done && hook_done) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
    }
}

}  // namespace qv
