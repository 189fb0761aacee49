#pragma once
// Tells a monitoring service (Healthchecks' convention, a dead-man's switch) that a run started,
// succeeded or failed: a POST to <URL>/start, <URL> or <URL>/fail with the run's last line. The
// pings go out one at a time, in order, on a thread of their own, so a run, the next due minute
// and the window never wait for them; a ping that finally fails is one warning line.
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/HttpPost.h"

namespace qv {

enum class TPingKind { Start, Success, Fail };

struct TPingTiming {
    THttpLimits limits;  // each try
    // The waits before the second, third, ... try: one try more than waits. With the limits,
    // 4 tries of 10 s and 17 s of waiting stay within overall_ms.
    std::vector<int> backoff_ms{2000, 5000, 10000};
    int overall_ms = 60000;  // all tries of one ping end within this, counted from its first
};

class TPinger {
public:
    using TWarningEvent = std::function<void(const std::string& line)>;

    // Warnings are reported on the thread that made the pinger (its event loop). http: the
    // HTTP layer (by default libcurl, loaded on the first ping).
    explicit TPinger(TWarningEvent on_warning, std::unique_ptr<IHttpPost> http = nullptr,
                     TPingTiming timing = {});
    // Drops the pings still waiting and stops the one being tried (within about a second).
    ~TPinger();
    TPinger(const TPinger&) = delete;
    TPinger& operator=(const TPinger&) = delete;

    // Queues one ping and returns at once; body is cut to kMaxBody bytes (whole characters).
    void Ping(const std::string& url, TPingKind kind, const std::string& body);
    // Waits until every queued ping has been sent or has failed, at most timeout_ms; then, on
    // the pinger's own thread, reports the warnings of those that failed. False on time-out.
    bool WaitIdle(int timeout_ms);

    static constexpr size_t kMaxBody = 10000;
    // Pings waiting behind one being retried; beyond it the oldest is dropped with its warning.
    static constexpr size_t kMaxWaiting = 8;

private:
    struct Job {
        std::string url, body;
    };
    void Work();
    // Empty when sent; else why the last try failed.
    std::string Send(const Job& job, std::unique_lock<std::mutex>& lock);
    void Warn(const std::string& url, const std::string& reason);

    TWarningEvent on_warning_;
    std::unique_ptr<IHttpPost> http_;
    const TPingTiming timing_;
    std::unique_ptr<QObject> context_;  // lives on the owner's thread: warnings are queued to it
    std::mutex mutex_;
    std::condition_variable wake_;  // a ping queued, or stop_
    std::condition_variable idle_;  // the queue emptied and nothing is being tried
    std::deque<Job> waiting_;
    bool busy_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;  // started by the first ping
};

// The address a ping of this kind goes to: <URL>/start, <URL>, <URL>/fail (a trailing "/" of
// the URL dropped, a query kept after the added part).
std::string PingUrl(const std::string& url, TPingKind kind);
// The URL as a log line may show it: scheme://host[:port]/ and the path, with every segment
// that may be a secret (longer than 8 characters, or a token with digits or capitals) as "***";
// no user, password, query or fragment.
std::string MaskedUrl(const std::string& url);

}  // namespace qv
