#pragma once
// Records every POST and answers with scripted results (the last one repeated), from any thread.
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HttpPost.h"

namespace qv {

class FakeHttpPost : public IHttpPost {
public:
    struct Call {
        std::string url, body;
        THttpLimits limits;
    };
    explicit FakeHttpPost(std::deque<THttpResult> results = {{true, 200, ""}})
        : results_(std::move(results)) {}
    THttpResult Post(const std::string& url, const std::string& body, const THttpLimits& limits,
                     const std::atomic<bool>&) override {
        std::lock_guard lock(mutex_);
        calls_.push_back({url, body, limits});
        THttpResult result = results_.front();
        if (results_.size() > 1) results_.pop_front();
        return result;
    }
    std::vector<Call> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::deque<THttpResult> results_;
    std::vector<Call> calls_;
};

}  // namespace qv
