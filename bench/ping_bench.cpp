// What the first ping costs a program that has idled without one: PSS, private dirty and RSS
// (/proc/self/smaps_rollup) of the smallest Qt Core program linking the platform layer, idle,
// then with the pinger's worker thread started (idle), then after one POST to each URL given
// (libcurl loaded by the first; an https one also sets TLS up and reads the system's CA store),
// each on that worker thread as the pinger sends it, with how long each took.
//   bench/ping_bench URL...
// e.g. with tests/engine/ping_listener.py (python3 ping_listener.py /tmp/log [CERT KEY]) on
// http://127.0.0.1:PORT/x, and https://127.0.0.1:PORT/x for a TLS listener (its certificate
// need not verify: the CA store is read and the handshake made either way).
#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/CurlHttp.h"

namespace {

std::map<std::string, long> Rollup() {
    std::map<std::string, long> kb;
    std::ifstream in("/proc/self/smaps_rollup");
    for (std::string line; std::getline(in, line);) {
        char name[64];
        long value = 0;
        if (std::sscanf(line.c_str(), "%63s %ld", name, &value) == 2) kb[name] = value;
    }
    return kb;
}

void Report(const std::string& step) {
    std::map<std::string, long> kb = Rollup();
    std::printf("%-48s PSS %6ld kB  private dirty %6ld kB  RSS %6ld kB\n", step.c_str(), kb["Pss:"],
                kb["Private_Dirty:"], kb["Rss:"]);
}

// One worker thread that runs the jobs handed to it, as the pinger's does.
class Worker {
public:
    Worker() : thread_([this] { Loop(); }) {}
    ~Worker() {
        Run({});
        thread_.join();
    }
    // Runs job on the worker and waits for it; an empty job ends the worker.
    void Run(std::function<void()> job) {
        std::unique_lock lock(mutex_);
        job_ = std::move(job);
        pending_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !pending_; });
    }

private:
    void Loop() {
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return pending_; });
            std::function<void()> job = std::move(job_);
            if (job) job();
            pending_ = false;
            changed_.notify_all();
            if (!job) return;
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool pending_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Report("idle");
    Worker worker;
    worker.Run([] {});
    Report("the worker thread started");
    qv::CurlHttpPost http;
    std::atomic<bool> stop{false};
    for (int i = 1; i < argc; ++i) {
        const std::string url = argv[i];
        qv::THttpResult result;
        const auto start = std::chrono::steady_clock::now();
        worker.Run([&] { result = http.Post(url, "bench", {}, stop); });
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf("POST %s: %s in %.1f ms\n", url.c_str(),
                    result.ok ? "sent" : result.error.c_str(), ms);
        Report("after it");
    }
    return 0;
}
