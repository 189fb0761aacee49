#include "firebird/BackupFollower.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "firebird/IBIntf.h"

namespace qv {

struct TBackupFollower::State {
    mutable std::mutex mu;
    std::condition_variable cv;
    bool stop = false;
    bool finished = false;
    std::optional<TBackupOutcome> outcome;
    TIBControlAndQueryService query{nullptr};
    TOutcomeEvent on_outcome;
    int poll_ms = 1000;

    // Asks until the backup has ended: its outcome, or none when stopped first.
    bool Follow(TBackupOutcome& outcome) {
        for (;;) {
            try {
                // A backup that ended answers 0; one more query reports its failure, if any.
                if (!query.IsServiceRunning()) {
                    query.IsServiceRunning();
                    outcome.succeeded = true;
                    return true;
                }
            } catch (const std::exception& e) {
                outcome.message = e.what();
                return true;
            }
            std::unique_lock lock(mu);
            if (cv.wait_for(lock, std::chrono::milliseconds(poll_ms), [&] { return stop; }))
                return false;
        }
    }

    static void Run(std::shared_ptr<State> s) {
        ClientCallScope inside;  // the library stays loaded while we follow
        TBackupOutcome outcome;
        const bool known = s->Follow(outcome);
        if (known) {
            std::lock_guard lock(s->mu);
            s->outcome = outcome;
        }
        try {
            s->query.SetActive(false);
        } catch (const std::exception&) {
            // Once the outcome is known a failed detach adds nothing; when stopped, the
            // attachment is gone either way.
        }
        if (!known) NoteBackupLeftRunning();
        std::lock_guard lock(s->mu);
        // Under the lock, so that no report starts once Stop has returned.
        if (known && !s->stop && s->on_outcome) s->on_outcome(outcome);
        s->finished = true;
        s->cv.notify_all();
    }
};

TBackupFollower::TBackupFollower(TIBCustomService& service, TOutcomeEvent on_outcome, int poll_ms,
                                 int call_timeout_ms)
    : state_(std::make_shared<State>()) {
    state_->on_outcome = std::move(on_outcome);
    state_->poll_ms = poll_ms;
    state_->query.SetCallTimeout(call_timeout_ms);
    service.HandOver(state_->query);
    thread_ = std::thread(&State::Run, state_);
}

TBackupFollower::~TBackupFollower() {
    // A finished thread only has to return: waiting for it means no thread of ours is still
    // ending when the process ends. One still inside the library is left to end on its own.
    if (Stop(0))
        thread_.join();
    else
        thread_.detach();
}

bool TBackupFollower::Stop(int timeout_ms) {
    std::unique_lock lock(state_->mu);
    state_->stop = true;
    state_->cv.notify_all();
    return state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                               [&] { return state_->finished; });
}

std::optional<TBackupOutcome> TBackupFollower::Outcome() const {
    std::lock_guard lock(state_->mu);
    return state_->outcome;
}

bool TBackupFollower::Finished() const {
    std::lock_guard lock(state_->mu);
    return state_->finished;
}

}  // namespace qv
