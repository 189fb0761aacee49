#include "engine/Pinger.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>

#include "platform/CurlHttp.h"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// At most max_bytes, never ending inside a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// A client error other than a time-out or a rate limit will not change on the next try.
bool WorthRetrying(const THttpResult& result) {
    const long s = result.status;
    return s == 0 || s >= 500 || s == 408 || s == 429 || s < 400;
}

bool LooksSecret(const std::string& segment) {
    if (segment.size() > 8) return true;
    if (segment.size() < 5) return false;
    return std::any_of(segment.begin(), segment.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '%';
    });
}

}  // namespace

std::string PingUrl(const std::string& url, TPingKind kind) {
    const size_t query = std::min(url.find_first_of("?#"), url.size());
    std::string path = url.substr(0, query);
    const size_t scheme_end = path.find("://");
    const size_t keep = scheme_end == std::string::npos ? 0 : scheme_end + 3;
    while (path.size() > keep && path.back() == '/') path.pop_back();
    const char* suffix = kind == TPingKind::Start  ? "/start"
                         : kind == TPingKind::Fail ? "/fail"
                                                   : "";
    return path + suffix + url.substr(query);
}

std::string MaskedUrl(const std::string& url) {
    const size_t scheme_end = url.find("://");
    if (scheme_end == std::string::npos) return "***";
    const size_t start = scheme_end + 3;
    const size_t authority_end = std::min(url.find_first_of("/?#", start), url.size());
    std::string host = url.substr(start, authority_end - start);
    if (size_t at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
    std::string masked = url.substr(0, start) + host + "/";
    const size_t path_end = std::min(url.find_first_of("?#", authority_end), url.size());
    if (authority_end >= path_end) return masked;
    // The segments after the host's "/", each kept or masked, the slashes between them kept.
    const std::string path = url.substr(authority_end + 1, path_end - authority_end - 1);
    size_t from = 0;
    for (;;) {
        const size_t slash = std::min(path.find('/', from), path.size());
        const std::string segment = path.substr(from, slash - from);
        masked += LooksSecret(segment) ? "***" : segment;
        if (slash == path.size()) break;
        masked += "/";
        from = slash + 1;
    }
    return masked;
}

TPinger::TPinger(TWarningEvent on_warning, std::unique_ptr<IHttpPost> http, TPingTiming timing)
    : on_warning_(std::move(on_warning)),
      http_(http ? std::move(http) : std::make_unique<CurlHttpPost>()),
      timing_(std::move(timing)),
      context_(std::make_unique<QObject>()) {}

TPinger::~TPinger() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void TPinger::Ping(const std::string& url, TPingKind kind, const std::string& body) {
    std::lock_guard lock(mutex_);
    if (waiting_.size() >= kMaxWaiting) {
        Warn(waiting_.front().url, "too many notifications waiting");
        waiting_.pop_front();
    }
    waiting_.push_back({PingUrl(url, kind), CutUtf8(body, kMaxBody)});
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
    wake_.notify_one();
}

bool TPinger::WaitIdle(int timeout_ms) {
    bool idle;
    {
        std::unique_lock lock(mutex_);
        idle = idle_.wait_for(lock, milliseconds(timeout_ms),
                              [this] { return waiting_.empty() && !busy_; });
    }
    if (QThread::currentThread() == context_->thread())
        QCoreApplication::sendPostedEvents(context_.get(), QEvent::MetaCall);
    return idle;
}

void TPinger::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
        if (stop_) return;
        const Job job = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        const std::string failure = Send(job, lock);
        if (!failure.empty() && !stop_) Warn(job.url, failure);
        busy_ = false;
        if (waiting_.empty()) idle_.notify_all();
    }
}

std::string TPinger::Send(const Job& job, std::unique_lock<std::mutex>& lock) {
    const Clock::time_point deadline = Clock::now() + milliseconds(timing_.overall_ms);
    std::string failure = "timed out";
    for (size_t tried = 0;; ++tried) {
        THttpLimits limits = timing_.limits;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return failure;  // a wait that ended late
        limits.total_ms = static_cast<int>(std::min<int64_t>(limits.total_ms, left.count()));
        limits.connect_ms = std::min(limits.connect_ms, limits.total_ms);
        lock.unlock();
        const THttpResult result = http_->Post(job.url, job.body, limits, stop_);
        lock.lock();
        if (result.ok) return {};
        failure = result.error.empty() ? "failed" : result.error;
        if (stop_ || tried == timing_.backoff_ms.size() || !WorthRetrying(result)) return failure;
        const Clock::time_point next = Clock::now() + milliseconds(timing_.backoff_ms[tried]);
        if (next >= deadline) return failure;
        if (wake_.wait_until(lock, next, [this] { return stop_.load(); })) return failure;
    }
}

void TPinger::Warn(const std::string& url, const std::string& reason) {
    const std::string line = "無法送出通知 " + MaskedUrl(url) + ":" + reason;
    QMetaObject::invokeMethod(
        context_.get(),
        [this, line] {
            try {
                on_warning_(line);
            } catch (const std::exception&) {
                // a line that cannot be written has nowhere else to go
            }
        },
        Qt::QueuedConnection);
}

}  // namespace qv
