#include "ClientWorker.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "IB.h"
#include "IBIntf.h"

namespace qv {

struct TClientWorker::State {
    std::mutex mu;
    std::condition_variable cv;
    std::function<void()> call;
    std::function<void()> late;
    bool has_call = false;
    bool done = false;
    bool abandoned = false;
    bool quit = false;
    std::exception_ptr error;

    // The thread's loop: one call at a time until told to quit or abandoned.
    static void Serve(std::shared_ptr<State> s) {
        std::unique_lock lock(s->mu);
        for (;;) {
            s->cv.wait(lock, [&] { return s->has_call || s->quit; });
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
            s->cv.notify_all();
        }
    }
};

TClientWorker::~TClientWorker() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mu);
        state_->quit = true;
    }
    state_->cv.notify_all();
}

void TClientWorker::Run(int timeout_ms, std::function<void()> call, std::function<void()> late) {
    if (timeout_ms <= 0) {
        call();
        return;
    }
    if (!state_) {
        state_ = std::make_shared<State>();
        std::thread(&State::Serve, state_).detach();  // ends on quit or after an abandonment
    }
    std::shared_ptr<State> s = state_;
    std::unique_lock lock(s->mu);
    s->call = std::move(call);
    s->late = std::move(late);
    s->has_call = true;
    s->done = false;
    s->error = nullptr;
    s->cv.notify_all();
    if (!s->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return s->done; })) {
        s->abandoned = true;
        lock.unlock();
        state_.reset();
        RaiseClientError(ClientErrorCode::ServiceNoAnswer,
                         {std::to_string((timeout_ms + 999) / 1000)});
    }
    std::exception_ptr error = s->error;
    s->late = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

}  // namespace qv
