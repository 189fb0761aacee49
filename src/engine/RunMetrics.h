#pragma once
// METRICSFILE: the runs' history as Prometheus reads it through node_exporter's textfile
// collector, so that an alert on `time() - quorvane_last_success_timestamp_seconds` hears of a
// backup that stopped succeeding, for whatever reason. The history outlives the program in a
// small file of its own beside the schedule's record (which stopping the schedule removes).
#include <cstdint>
#include <optional>
#include <string>

#include "engine/RunOutcome.h"

namespace qv {

// The history's file, in the directory of the schedule's record.
inline constexpr const char* kRunHistoryFileName = "PROC_RUNS.TXT";

// What the runs so far tell; a value never known yet is none.
struct TRunHistory {
    int64_t runs_success = 0;
    int64_t runs_failure = 0;
    int64_t missed = 0;                   // due minutes that passed unchecked
    std::optional<int64_t> last_run;      // when the last run ended, seconds since the epoch
    std::optional<int64_t> last_success;  // when the last successful run ended
    std::optional<bool> last_run_success;
    std::optional<int64_t> last_bytes;     // the last successful backup's size, when told
    std::optional<int64_t> last_duration;  // the last run's seconds
    // The last verification's result. A successful run without one clears it (verification is
    // off); a failed run without one (it never got that far) leaves it.
    std::optional<bool> last_verify;

    // A run's end. A Missed outcome counts one missed minute (see AddMissed for more).
    void Add(const TRunOutcome& outcome);
    void AddMissed(int count);

    // key=value lines: runs_success, runs_failure, missed, last_run, last_success,
    // last_run_success, last_bytes, last_duration, last_verify (1/0); an unknown value is left
    // out.
    std::string Text() const;
    // The reverse; a line or value it does not understand is left unknown.
    static TRunHistory Parse(const std::string& text);
};

// Reads the history; a missing file is an empty history. An unreadable one is also empty, and
// `warning` (when given) gets "無法讀取執行紀錄 <file>:<reason>".
TRunHistory LoadRunHistory(const std::string& file, std::string* warning = nullptr);
// Replaces the file atomically (mode 0644); "" or "無法寫入執行紀錄 <file>:<reason>".
std::string SaveRunHistory(const std::string& file, const TRunHistory& history);

// The Prometheus text format (HELP and TYPE for each family), every sample labelled
// database="..." and, when instance is not empty, instance="...". Counters are always there,
// from 0, so that rate() and increase() work from the first scrape; a gauge never known is left
// out, except the last success's time: 0 when no run has succeeded, so that an alert on its age
// fires for a backup that never worked. next_due: the next due minute's moment, none when no
// minute is due (the schedule off or none in the next days).
std::string MetricsText(const TRunHistory& history, const std::string& database,
                        const std::string& instance, std::optional<int64_t> next_due);

// Replaces the metrics file: a temporary file in the same directory, written, synced and
// renamed over it, mode 0644 (the collector runs as another user). Gives "" or the warning line
// "無法寫入 METRICSFILE <path>:<reason>".
std::string WriteMetricsFile(const std::string& path, const std::string& text);

}  // namespace qv
