#include "firebird/ClientWorker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "firebird/IB.h"
#include "firebird/IBIntf.h"

namespace qv {

namespace {
// How long the worker stays awake after a call for the run's next one (the start after the
// attach, the detach after the start), which the caller sends within microseconds: catching
// it awake saves the thread a wake-up, which on a busy machine means waiting for a core.
constexpr auto kStayAwake = std::chrono::microseconds(200);
}  // namespace

struct TClientWorker::State {
    std::mutex mu;
    std::condition_variable posted;    // the worker waits here for a call (or quit)
    std::condition_variable finished;  // the caller waits here for its call's end
    std::function<void()> call;
    std::function<void()> late;
    std::atomic<bool> has_call = false;  // also read without the lock while staying awake
    bool done = false;
    bool abandoned = false;
    bool quit = false;
    bool sleeping = false;  // the worker waits on `posted`: a new call must wake it
    std::exception_ptr error;

    void StayAwake() {
        const auto until = std::chrono::steady_clock::now() + kStayAwake;
        while (!has_call.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }

    // The thread's loop: one call at a time until told to quit or abandoned. Every notify is
    // sent after the lock is released, so the woken thread never wakes only to wait for it.
    static void Serve(std::shared_ptr<State> s) {
        for (;;) {
            s->StayAwake();
            std::unique_lock lock(s->mu);
            s->sleeping = true;
            s->posted.wait(lock, [&] { return s->has_call.load() || s->quit; });
            s->sleeping = false;
            if (!s->has_call) return;
            std::function<void()> call = std::move(s->call);
            s->has_call = false;
            lock.unlock();
            std::exception_ptr error;
            {
                ClientCallScope inside;
                try {
                    call();
                } catch (...) {
                    error = std::current_exception();
                }
            }
            lock.lock();
            if (s->abandoned) {
                // Nobody waits any more: close what the call opened, then end this thread.
                std::function<void()> late = std::move(s->late);
                lock.unlock();
                if (late) {
                    ClientCallScope inside;
                    try {
                        late();
                    } catch (...) {
                    }
                }
                return;
            }
            s->error = error;
            s->done = true;
            lock.unlock();
            s->finished.notify_one();
        }
    }
};

TClientWorker::~TClientWorker() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mu);
        state_->quit = true;
    }
    state_->posted.notify_one();
    // Idle (every Run returns before this), so the thread leaves its wait at once.
    if (thread_.joinable()) thread_.join();
}

void TClientWorker::Run(int timeout_ms, std::function<void()> call, std::function<void()> late) {
    if (timeout_ms <= 0) {
        call();
        return;
    }
    if (!state_) {
        state_ = std::make_shared<State>();
        thread_ = std::thread(&State::Serve, state_);  // ends on quit or after an abandonment
    }
    std::shared_ptr<State> s = state_;
    std::unique_lock lock(s->mu);
    s->call = std::move(call);
    s->late = std::move(late);
    s->done = false;
    s->error = nullptr;
    s->has_call.store(true, std::memory_order_release);
    const bool wake = s->sleeping;
    lock.unlock();
    if (wake) s->posted.notify_one();
    lock.lock();
    // Woken by the call's end (or the bound), never by a polling interval.
    if (!s->finished.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [&] { return s->done; })) {
        s->abandoned = true;
        lock.unlock();
        state_.reset();
        thread_.detach();  // it ends once the call returns, maybe never
        RaiseClientError(ClientErrorCode::ServiceNoAnswer,
                         {std::to_string((timeout_ms + 999) / 1000)});
    }
    std::exception_ptr error = s->error;
    s->late = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

}  // namespace qv
