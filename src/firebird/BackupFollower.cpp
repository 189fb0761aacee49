#include "firebird/BackupFollower.h"

#include "firebird/IBIntf.h"

namespace qv {

namespace {

using TControl = TOutcomeWorker<TBackupOutcome>::TControl;

// Asks until the backup has ended: its outcome, or none when stopped first.
std::optional<TBackupOutcome> Follow(TIBControlAndQueryService& query, TControl& control,
                                     int poll_ms) {
    for (;;) {
        try {
            // A backup that ended answers 0; one more query reports its failure, if any.
            if (!query.IsServiceRunning()) {
                query.IsServiceRunning();
                return TBackupOutcome{true, {}};
            }
        } catch (const std::exception& e) {
            return TBackupOutcome{false, e.what()};
        }
        if (control.Pause(poll_ms)) return std::nullopt;
    }
}

// The attachment, taken from the run's component before the thread starts.
std::shared_ptr<TIBControlAndQueryService> TakeOver(TIBCustomService& service,
                                                    int call_timeout_ms) {
    auto query = std::make_shared<TIBControlAndQueryService>(nullptr);
    query->SetCallTimeout(call_timeout_ms);
    service.HandOver(*query);
    return query;
}

}  // namespace

TBackupFollower::TBackupFollower(TIBCustomService& service, TOutcomeEvent on_outcome, int poll_ms,
                                 int call_timeout_ms)
    : worker_(
          [query = TakeOver(service, call_timeout_ms), poll_ms](TControl& control) {
              ClientCallScope inside;  // the library stays loaded while we follow
              const std::optional<TBackupOutcome> outcome = Follow(*query, control, poll_ms);
              if (outcome) control.Know(*outcome);
              try {
                  query->SetActive(false);
              } catch (const std::exception&) {
                  // Once the outcome is known a failed detach adds nothing; when stopped, the
                  // attachment is gone either way.
              }
              if (!outcome) NoteBackupLeftRunning();
              return outcome;
          },
          std::move(on_outcome)) {}

}  // namespace qv
