#pragma once
// A thread that works towards one outcome, reports it once and can be stopped within a bound:
// the frame under the backup follower and the verifier.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qv {

template <class T>
class TOutcomeWorker {
    struct State {
        mutable std::mutex mu;
        std::condition_variable cv;
        bool stop = false;
        bool finished = false;
        std::optional<T> outcome;
        std::function<void(const T&)> on_outcome;
    };

public:
    using TOutcomeEvent = std::function<void(const T&)>;

    // What the work sees of its frame.
    class TControl {
    public:
        explicit TControl(std::shared_ptr<State> state) : state_(std::move(state)) {}
        bool Stopped() const {
            std::lock_guard lock(state_->mu);
            return state_->stop;
        }
        // Waits ms unless stopped meanwhile; true when stopped.
        bool Pause(int ms) const {
            std::unique_lock lock(state_->mu);
            return state_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                                       [&] { return state_->stop; });
        }
        // Makes the outcome known (Outcome) before the work's own clean-up is done.
        void Know(const T& outcome) {
            std::lock_guard lock(state_->mu);
            state_->outcome = outcome;
        }

    private:
        std::shared_ptr<State> state_;
    };
    // Runs on the thread: the outcome, or none when it saw Stop first. Whatever it uses lives
    // in its own captures: the thread may outlive this object.
    using TWork = std::function<std::optional<T>(TControl&)>;

    // Starts at once. on_outcome runs once, on the thread, unless Stop came first; it must only
    // hand the outcome on.
    TOutcomeWorker(TWork work, TOutcomeEvent on_outcome) : state_(std::make_shared<State>()) {
        state_->on_outcome = std::move(on_outcome);
        thread_ = std::thread(&TOutcomeWorker::Run, state_, std::move(work));
    }
    // Stops without waiting. A finished thread only has to return: waiting for it means no
    // thread of ours is still ending when the process ends. One still at work (inside the
    // client library) is left to end on its own.
    ~TOutcomeWorker() {
        if (Stop(0))
            thread_.join();
        else
            thread_.detach();
    }
    TOutcomeWorker(const TOutcomeWorker&) = delete;
    TOutcomeWorker& operator=(const TOutcomeWorker&) = delete;

    // No outcome is reported from now on. Waits at most timeout_ms for the work to end; false
    // when it had not ended by then.
    bool Stop(int timeout_ms) {
        std::unique_lock lock(state_->mu);
        state_->stop = true;
        state_->cv.notify_all();
        return state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [&] { return state_->finished; });
    }
    // Whether the work has ended (its outcome reported, or stopped).
    bool Finished() const {
        std::lock_guard lock(state_->mu);
        return state_->finished;
    }
    // The outcome once it is known (also before its report has been handled), else nothing.
    std::optional<T> Outcome() const {
        std::lock_guard lock(state_->mu);
        return state_->outcome;
    }

private:
    static void Run(std::shared_ptr<State> state, TWork work) {
        TControl control(state);
        const std::optional<T> outcome = work(control);
        std::lock_guard lock(state->mu);
        if (outcome) state->outcome = outcome;
        // Under the lock, so that no report starts once Stop has returned.
        if (outcome && !state->stop && state->on_outcome) state->on_outcome(*outcome);
        state->finished = true;
        state->cv.notify_all();
    }

    std::shared_ptr<State> state_;  // shared with the thread
    std::thread thread_;
};

}  // namespace qv
