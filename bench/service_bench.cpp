// Attach + start + detach through TIBBackupService against the same three calls made from a
// minimal C client, alternating, against the local test server. Prints medians and the ratio.
//   bench/service_bench [repetitions]   (needs scripts/firebird-server.sh start)
#include <algorithm>

#include "BenchEnv.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "IBServices.h"

extern "C" int raw_load(void);
extern "C" int raw_backup(const char* user, const char* password, const char* db, const char* file);

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int reps = argc > 1 ? std::atoi(argv[1]) : 100;
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
    for (int i = 0; i < reps; ++i) {
        std::string file = dir + "/bench.gbk";
        auto t0 = clock::now();
        if (raw_backup("SYSDBA", pw.c_str(), db.c_str(), file.c_str()) != 0) return 2;
        auto t1 = clock::now();
        run(bounded, file);
        auto t2 = clock::now();
        run(direct, file);
        auto t3 = clock::now();
        raw.push_back(ms(t0, t1));
        ours.push_back(ms(t1, t2));
        unbounded.push_back(ms(t2, t3));
    }
    double m_raw = Median(raw), m_ours = Median(ours), m_direct = Median(unbounded);
    std::printf("| path | median ms (n=%d) |\n|---|---|\n", reps);
    std::printf(
        "| raw C calls | %.3f |\n| TIBBackupService (bounded, on its worker) | %.3f |\n"
        "| TIBBackupService (unbounded, this thread) | %.3f |\n",
        m_raw, m_ours, m_direct);
    std::printf("ratio (component / raw): %.3f  (target <= 1.1); unbounded / raw: %.3f\n",
                m_ours / m_raw, m_direct / m_raw);
    std::remove((dir + "/bench.gbk").c_str());
    return 0;
}
