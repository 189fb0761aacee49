#pragma once
// Client-library calls that may wait on the network, run on one worker thread that the caller
// waits for at most a bound, so that a server that stalls never holds the window for long.
#include <functional>
#include <memory>
#include <thread>

namespace qv {

class TClientWorker {
public:
    TClientWorker() = default;
    ~TClientWorker();
    TClientWorker(const TClientWorker&) = delete;
    TClientWorker& operator=(const TClientWorker&) = delete;

    // Runs `call` on the worker thread and returns when it returns, with its exception. When it
    // has not returned within timeout_ms, raises ServiceNoAnswer: `late` then runs on the worker
    // once the call does return (to close what it opened), and the next Run gets a new thread.
    // A timeout of 0 or less runs `call` on the calling thread, unbounded.
    void Run(int timeout_ms, std::function<void()> call, std::function<void()> late = {});

private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the thread, which may outlive an abandonment
    // Joined when the worker is destroyed idle, so that no thread of ours is still ending when
    // the process ends; detached once a call is abandoned.
    std::thread thread_;
};

}  // namespace qv
