#include "engine/RunMetrics.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/Files.h"

namespace qv {

namespace {

std::optional<int64_t> ParseNumber(const std::string& text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<bool> ParseFlag(const std::string& text) {
    if (text == "1") return true;
    if (text == "0") return false;
    return std::nullopt;
}

// A label's value as the text format writes it: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

class TMetricsWriter {
public:
    explicit TMetricsWriter(std::string labels) : labels_(std::move(labels)) {}

    void Family(const char* name, const char* type, const char* help) {
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void Sample(const char* name, int64_t value, const std::string& more_labels = "") {
        text_ +=
            std::string(name) + "{" + labels_ + more_labels + "} " + std::to_string(value) + "\n";
    }
    // A gauge with one sample, or nothing at all while its value is unknown.
    void Gauge(const char* name, const char* help, std::optional<int64_t> value) {
        if (!value) return;
        Family(name, "gauge", help);
        Sample(name, *value);
    }
    std::string Take() { return std::move(text_); }

private:
    std::string labels_;
    std::string text_;
};

std::optional<int64_t> AsNumber(std::optional<bool> flag) {
    if (!flag) return std::nullopt;
    return *flag ? 1 : 0;
}

}  // namespace

void TRunHistory::Add(const TRunOutcome& outcome) {
    if (outcome.kind == TOutcomeKind::Missed) return AddMissed(1);
    const bool succeeded = outcome.kind == TOutcomeKind::Success;
    ++(succeeded ? runs_success : runs_failure);
    last_run = outcome.ended;
    last_run_success = succeeded;
    last_duration = outcome.ended >= outcome.started
                        ? std::optional<int64_t>(outcome.ended - outcome.started)
                        : std::nullopt;
    if (succeeded) {
        last_success = outcome.ended;
        last_bytes = outcome.bytes;
    }
    if (outcome.verified || succeeded) last_verify = outcome.verified;
}

void TRunHistory::AddMissed(int count) {
    if (count > 0) missed += count;
}

std::string TRunHistory::Text() const {
    std::string text = "runs_success=" + std::to_string(runs_success) +
                       "\nruns_failure=" + std::to_string(runs_failure) +
                       "\nmissed=" + std::to_string(missed) + "\n";
    auto line = [&](const char* key, std::optional<int64_t> value) {
        if (value) text += std::string(key) + "=" + std::to_string(*value) + "\n";
    };
    line("last_run", last_run);
    line("last_success", last_success);
    line("last_run_success", AsNumber(last_run_success));
    line("last_bytes", last_bytes);
    line("last_duration", last_duration);
    line("last_verify", AsNumber(last_verify));
    return text;
}

TRunHistory TRunHistory::Parse(const std::string& text) {
    TRunHistory h;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        const std::optional<int64_t> number = ParseNumber(value);
        if (key == "runs_success" && number && *number >= 0) h.runs_success = *number;
        if (key == "runs_failure" && number && *number >= 0) h.runs_failure = *number;
        if (key == "missed" && number && *number >= 0) h.missed = *number;
        if (key == "last_run") h.last_run = number;
        if (key == "last_success") h.last_success = number;
        if (key == "last_run_success") h.last_run_success = ParseFlag(value);
        if (key == "last_bytes") h.last_bytes = number;
        if (key == "last_duration") h.last_duration = number;
        if (key == "last_verify") h.last_verify = ParseFlag(value);
    }
    return h;
}

TRunHistory LoadRunHistory(const std::string& file, std::string* warning) {
    std::string text;
    bool exists = false;
    if (!ReadWholeFile(file, &text, &exists)) {
        if (warning) *warning = "無法讀取執行紀錄 " + file + ":" + std::strerror(errno);
        return {};
    }
    return exists ? TRunHistory::Parse(text) : TRunHistory{};
}

std::string SaveRunHistory(const std::string& file, const TRunHistory& history) {
    if (ReplaceFileAtomically(file, history.Text(), 0644)) return "";
    return "無法寫入執行紀錄 " + file + ":" + std::strerror(errno);
}

std::string MetricsText(const TRunHistory& history, const std::string& database,
                        const std::string& instance, std::optional<int64_t> next_due) {
    std::string labels = "database=\"" + LabelValue(database) + "\"";
    if (!instance.empty()) labels += ",instance=\"" + LabelValue(instance) + "\"";
    TMetricsWriter w(labels);
    w.Gauge("quorvane_last_run_timestamp_seconds",
            "When the last backup run ended, in seconds since the epoch.", history.last_run);
    w.Gauge("quorvane_last_success_timestamp_seconds",
            "When the last successful backup run ended, in seconds since the epoch; 0 when none "
            "has succeeded.",
            history.last_success.value_or(0));
    w.Gauge("quorvane_last_run_success", "Whether the last backup run succeeded (1) or failed (0).",
            AsNumber(history.last_run_success));
    w.Gauge("quorvane_last_backup_bytes", "The size of the last successful backup, in bytes.",
            history.last_bytes);
    w.Gauge("quorvane_last_run_duration_seconds", "How long the last backup run took.",
            history.last_duration);
    w.Gauge("quorvane_last_verify_success",
            "Whether the last verification (a test restore of the backup) succeeded (1) or "
            "failed (0).",
            AsNumber(history.last_verify));
    w.Gauge("quorvane_next_due_timestamp_seconds",
            "When the next backup is due, in seconds since the epoch.", next_due);
    w.Family("quorvane_runs_total", "counter", "Backup runs that ended, by outcome.");
    w.Sample("quorvane_runs_total", history.runs_success, ",outcome=\"success\"");
    w.Sample("quorvane_runs_total", history.runs_failure, ",outcome=\"failure\"");
    w.Family("quorvane_missed_total", "counter", "Due backup times that passed unchecked.");
    w.Sample("quorvane_missed_total", history.missed);
    return w.Take();
}

std::string WriteMetricsFile(const std::string& path, const std::string& text) {
    // The replacement keeps an existing file's mode: make it readable by the collector first
    // (a file of someone else's keeps its own).
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) != 0644)
        chmod(path.c_str(), 0644);
    if (ReplaceFileAtomically(path, text, 0644)) return "";
    return "無法寫入 METRICSFILE " + path + ":" + std::strerror(errno);
}

}  // namespace qv
