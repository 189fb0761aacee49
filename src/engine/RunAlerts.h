#pragma once
// What a person away from the desktop hears of the runs: a ping to a dead-man's switch, the
// administrator's hook and the metrics file, each from its own settings key (empty is off).
// The keeper tells it each run's start and end and each missed-minute line; nothing here makes
// a run or the next due minute wait.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/BackupSettings.h"
#include "engine/LinePriority.h"
#include "engine/RunHook.h"
#include "engine/RunMetrics.h"
#include "engine/Pinger.h"
#include "engine/RunOutcome.h"

namespace qv {

class TRunAlerts {
public:
    // Lines are reported on the thread that made the alerts.
    explicit TRunAlerts(TLineEvent on_line);
    ~TRunAlerts();
    TRunAlerts(const TRunAlerts&) = delete;
    TRunAlerts& operator=(const TRunAlerts&) = delete;

    // Where the run history is kept (beside the log, ends in "/"): read at once.
    void SetDirectory(const std::string& dir);
    // The instance's name the metrics are labelled with (the service's); empty: none.
    void SetInstance(std::string instance) { instance_ = std::move(instance); }

    // Start-up: the metrics file written from the history as it was kept.
    void StartUp(const TBackupSettings& s, std::optional<int64_t> next_due);
    // A backup run begins: the ping's /start.
    void RunStarted(const TBackupSettings& s);
    // A backup run ended: its ping, the hook, the history and the metrics.
    void RunEnded(const TBackupSettings& s, const TRunOutcome& outcome,
                  std::optional<int64_t> next_due);
    // Due minutes passed unchecked (their line just written): the hook and the metrics.
    void Missed(const TBackupSettings& s, int count, const std::string& line,
                std::optional<int64_t> next_due);
    // For a program that ends after one run: waits for its pings and hook, at most timeout_ms.
    bool WaitIdle(int timeout_ms);

    TRunHook& Hook() { return hook_; }
    // The pinger, made at the first ping (libcurl is loaded only then); tests give their own.
    void SetPinger(std::unique_ptr<TPinger> pinger);
    const TRunHistory& History() const { return history_; }

private:
    void Ping(const TBackupSettings& s, TPingKind kind, const std::string& body);
    // The metrics file, and with changed counters (changed_history) the history it is made of.
    void Record(const TBackupSettings& s, std::optional<int64_t> next_due, bool changed_history);

    TLineEvent on_line_;
    TRunHook hook_;
    std::unique_ptr<TPinger> pinger_;
    TRunHistory history_;
    std::string history_file_;
    std::string instance_;
    bool history_failing_ = false;  // said once until a write succeeds again
    bool metrics_failing_ = false;
};

}  // namespace qv
