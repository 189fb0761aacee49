#pragma once
// Follows one accepted backup to its end, off the window's thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "firebird/IBServices.h"
#include "firebird/OutcomeWorker.h"

namespace qv {

// How a followed backup ended: the server finished the file, or the failure's text as an
// EIBError carries it (the server's report, or the lost connection).
struct TBackupOutcome {
    TBackupOutcome() = default;
    TBackupOutcome(bool succeeded, std::string message, std::optional<int64_t> bytes = std::nullopt)
        : succeeded(succeeded), message(std::move(message)), bytes(bytes) {}

    bool succeeded = false;
    std::string message;
    // The bytes that reached this machine, for a backup streamed here; none otherwise.
    std::optional<int64_t> bytes;
};

// Takes over the attachment a backup was started on and asks the service manager, about once
// a poll interval, whether the backup still runs; once it has ended (or failed, or the
// connection is lost) it detaches and reports the outcome. Nothing here waits on the caller's
// thread except Stop, which is bounded.
class TBackupFollower {
public:
    using TOutcomeEvent = std::function<void(const TBackupOutcome&)>;

    // `service` is detached afterwards and free for the next run. on_outcome runs once, on the
    // follower's thread, unless Stop came first; it must only hand the outcome on. Each query
    // is bounded by call_timeout_ms: a server that stops answering (a dead connection that
    // never closes) fails the backup instead of keeping every later one waiting.
    TBackupFollower(TIBCustomService& service, TOutcomeEvent on_outcome, int poll_ms = 1000,
                    int call_timeout_ms = TIBCustomService::kDefaultCallTimeoutMs);

    // Stops following: the outcome is no longer reported, the attachment is closed (a backup
    // over TCP goes on in the server). Waits at most timeout_ms for that; false when the
    // follower had not finished by then and was left to finish on its own.
    bool Stop(int timeout_ms) { return worker_.Stop(timeout_ms); }
    // Whether the follower's thread has finished (outcome reported or stopped, detached).
    bool Finished() const { return worker_.Finished(); }
    // The outcome once it is known (also before its report has been handled), else nothing.
    std::optional<TBackupOutcome> Outcome() const { return worker_.Outcome(); }

private:
    TOutcomeWorker<TBackupOutcome> worker_;  // stops without waiting when destroyed
};

}  // namespace qv
