#pragma once
// How a run ended (or that due minutes passed unchecked), as the alerts tell it to a person
// away from the desktop: a ping, a hook's environment, the metrics file.
#include <cstdint>
#include <optional>
#include <string>

namespace qv {

enum class TOutcomeKind { Success, Failure, Missed };

struct TRunOutcome {
    TOutcomeKind kind = TOutcomeKind::Success;
    std::string line;      // the run's last line (for a failure, its failure line)
    std::string file;      // the backup file (on the server, or the copy on this machine)
    std::string database;  // as the settings name it
    std::string server;
    int64_t started = 0;  // seconds since the epoch
    int64_t ended = 0;
    std::optional<int64_t> bytes;  // the backup's size, when the server or a local copy tells
    std::optional<bool> verified;  // whether its verification succeeded; none when not verified
};

// The outcome's name in QUORVANE_OUTCOME and the metrics' labels: success, failure, missed.
inline const char* OutcomeName(TOutcomeKind kind) {
    switch (kind) {
        case TOutcomeKind::Success:
            return "success";
        case TOutcomeKind::Failure:
            return "failure";
        case TOutcomeKind::Missed:
            return "missed";
    }
    return "failure";
}

}  // namespace qv
