// Attach + start + detach through TIBBackupService against the same three calls made from a
// minimal C client, alternating, against the local test server. Prints medians and the ratio.
//   bench/service_bench [repetitions [pause ms]]   (needs scripts/firebird-server.sh start)
#include <algorithm>

#include "BenchEnv.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "firebird/IBServices.h"

extern "C" int raw_load(void);
extern "C" int raw_backup(const char* user, const char* password, const char* db, const char* file);

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// "p10 / p50 / p90" of the samples.
std::string Spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    char text[64];
    std::snprintf(text, sizeof text, "%.2f / %.2f / %.2f", v[v.size() / 10], v[v.size() / 2],
                  v[v.size() * 9 / 10]);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int reps = argc > 1 ? std::atoi(argv[1]) : 100;
    // A pause after each sample lets the backup it started end in the server before the next.
    const int pause_ms = argc > 2 ? std::atoi(argv[2]) : 0;
    auto env = ReadServerEnv();
    const std::string pw = env["QV_FB_PASSWORD"], db = env["QV_FB_SAMPLE_DB"],
                      dir = env["QV_FB_BACKUP_DIR"];
    if (pw.empty() || raw_load() != 0) {
        std::fprintf(stderr, "needs the local test server and libfbclient.so.2\n");
        return 1;
    }
    // As the window uses it (each call on the worker, bounded), and calling on this thread.
    qv::TIBBackupService bounded(nullptr), direct(nullptr);
    direct.SetCallTimeout(0);
    for (qv::TIBBackupService* svc : {&bounded, &direct}) {
        svc->SetLoginPrompt(false);
        svc->SetProtocol(qv::TProtocol::TCP);
        svc->SetServerName("localhost");
        svc->OnAttach = [](qv::TIBCustomService* s) {
            static_cast<qv::TIBBackupService*>(s)->ServiceStart();
            s->SetActive(false);
        };
    }
    auto run = [&](qv::TIBBackupService& svc, const std::string& file) {
        svc.Params().Clear();
        svc.Params().Add("user_name=SYSDBA");
        svc.Params().Add("password=" + pw);
        svc.SetDatabaseName(db);
        svc.BackupFile().Clear();
        svc.BackupFile().Add(file);
        svc.SetActive(true);
    };
    using clock = std::chrono::steady_clock;
    auto ms = [](clock::time_point a, clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    std::vector<double> ours, unbounded, raw;
    const std::string file = dir + "/bench.gbk";
    // Each path in turn first, second and third, so that none always follows the same one
    // (every start leaves a backup running in the server while the next path is timed).
    for (int i = 0; i < reps; ++i) {
        for (int k = 0; k < 3; ++k) {
            const int path = (i + k) % 3;
            auto t0 = clock::now();
            if (path == 0) {
                if (raw_backup("SYSDBA", pw.c_str(), db.c_str(), file.c_str()) != 0) return 2;
            } else {
                run(path == 1 ? bounded : direct, file);
            }
            (path == 0 ? raw : path == 1 ? ours : unbounded).push_back(ms(t0, clock::now()));
            if (pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
    }
    double m_raw = Median(raw), m_ours = Median(ours), m_direct = Median(unbounded);
    std::printf("| path | median ms (n=%d) | p10 / p50 / p90 |\n|---|---|---|\n", reps);
    std::printf(
        "| raw C calls | %.3f | %s |\n| TIBBackupService (bounded, on its worker) | %.3f | %s |\n"
        "| TIBBackupService (unbounded, this thread) | %.3f | %s |\n",
        m_raw, Spread(raw).c_str(), m_ours, Spread(ours).c_str(), m_direct,
        Spread(unbounded).c_str());
    std::printf("ratio (component / raw): %.3f  (target <= 1.1); unbounded / raw: %.3f\n",
                m_ours / m_raw, m_direct / m_raw);
    // The same, sample by sample: each bounded run against the raw run beside it in time.
    std::vector<double> paired;
    for (size_t i = 0; i < raw.size(); ++i) paired.push_back(ours[i] / raw[i]);
    std::printf("paired ratio (median of component / raw per round): %.3f\n", Median(paired));
    // The worker's own share: one empty call handed over and waited for, with the worker still
    // awake from the call before, and asleep (as before the attach, which starts a run).
    qv::TClientWorker worker;
    std::vector<double> awake, asleep;
    for (int i = 0; i < 400; ++i) {
        if (i % 2) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        auto t0 = clock::now();
        worker.Run(qv::TIBCustomService::kDefaultCallTimeoutMs, [] {});
        (i % 2 ? asleep : awake).push_back(ms(t0, clock::now()) * 1000);
    }
    std::printf("hand-off of an empty call, median us: worker awake %.1f, asleep %.1f\n",
                Median(awake), Median(asleep));
    std::ifstream load("/proc/loadavg");
    std::string load_line;
    std::getline(load, load_line);
    std::printf("load average at the end: %s\n", load_line.c_str());
    std::remove((dir + "/bench.gbk").c_str());
    return 0;
}
