// A backup streamed to this machine (TBackupStreamer) against the same protocol from the shell
// (`fbsvcmgr ... action_backup dbname DB bkp_file stdout > FILE`) and against `gbak -b` as a
// remote client (a database attachment that fetches the rows and writes the file here),
// alternating, on the 2 M-row test database; with each one's time, size and peak RSS.
//   bench/stream_bench [rounds [delay_us [database]]]
// delay_us > 0: every client reaches the server through a relay in this process that holds each
// piece back that long in each direction (delay_us 1000: a 2 ms round trip).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BenchEnv.h"
#include "TcpRelay.h"
#include "firebird/BackupStreamer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double ms = 0;
    long long bytes = 0;
    long peak_kib = 0;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long long SizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<long long>(in.tellg()) : -1;
}

long StatusKib(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

// Our streamer; the peak RSS of this process while it streams (the peak is reset before).
Run Ours(const qv::TStreamRequest& request) {
    std::ofstream("/proc/self/clear_refs") << "5";
    std::mutex mu;
    std::condition_variable cv;
    std::optional<qv::TStreamOutcome> outcome;
    const auto t0 = Clock::now();
    qv::TBackupStreamer streamer(request, [&](const qv::TStreamOutcome& o) {
        std::lock_guard lock(mu);
        outcome = o;
        cv.notify_all();
    });
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return outcome.has_value(); });
    Run run{Ms(Clock::now() - t0), outcome->bytes.value_or(-1), StatusKib("VmHWM:")};
    if (!outcome->succeeded) std::fprintf(stderr, "ours: %s\n", outcome->message.c_str());
    return run;
}

// A program, its standard output into `out` ("" leaves it), timed; its own peak RSS.
Run Program(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!out.empty())
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    Run run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot run %s\n", argv[0]);
        return run;
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.ms = Ms(Clock::now() - t0);
    run.peak_kib = usage.ru_maxrss;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "%s failed (%d)\n", argv[0], status);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    auto env = ReadServerEnv();
    const std::string pw = env["QV_FB_PASSWORD"];
    const int delay_us = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string database = argc > 3 ? argv[3] : env["QV_FB_BIG_DB"];
    std::optional<qv::test::TcpRelay> relay;
    std::string server = "localhost";
    if (delay_us > 0) {
        relay.emplace("127.0.0.1", 0, delay_us);
        server = "127.0.0.1/" + std::to_string(relay->Port());
    }
    char dir_template[] = "/tmp/qv-stream-bench-XXXXXX";
    const std::string dir = mkdtemp(dir_template);

    qv::TStreamRequest request;
    request.server_name = server;
    request.user = "SYSDBA";
    request.password = pw;
    request.database = database;
    request.local_path = dir + "/ours.gbk";
    const std::string svcmgr_file = dir + "/fbsvcmgr.gbk", gbak_file = dir + "/gbak.gbk";
    auto fbsvcmgr = [&] {
        Run run = Program({"fbsvcmgr", server + ":service_mgr", "-user", "SYSDBA", "-password", pw,
                           "action_backup", "dbname", database, "bkp_file", "stdout"},
                          svcmgr_file);
        run.bytes = SizeOf(svcmgr_file);
        return run;
    };
    auto gbak = [&] {
        std::remove(gbak_file.c_str());
        Run run = Program(
            {"gbak", "-b", "-user", "SYSDBA", "-password", pw, server + ":" + database, gbak_file},
            "");
        run.bytes = SizeOf(gbak_file);
        return run;
    };

    std::vector<double> ours, svcmgr, remote;
    for (int i = 0; i < rounds; ++i) {
        Run a, b, c;
        if (i % 2 == 0) {
            a = Ours(request);
            b = fbsvcmgr();
            c = gbak();
        } else {
            c = gbak();
            b = fbsvcmgr();
            a = Ours(request);
        }
        ours.push_back(a.ms);
        svcmgr.push_back(b.ms);
        remote.push_back(c.ms);
        std::printf(
            "round %d: streamer %.0f ms (%lld bytes, peak RSS %ld KiB), fbsvcmgr stdout %.0f ms "
            "(%lld bytes, peak RSS %ld KiB), gbak -b remote %.0f ms (%lld bytes, peak RSS %ld "
            "KiB)\n",
            i + 1, a.ms, a.bytes, a.peak_kib, b.ms, b.bytes, b.peak_kib, c.ms, c.bytes, c.peak_kib);
        std::fflush(stdout);
    }
    std::printf(
        "median of %d via %s (%d us each way): streamer %.0f ms, fbsvcmgr stdout %.0f ms, gbak -b "
        "remote %.0f ms; "
        "streamer/fbsvcmgr %.3f, streamer/gbak %.3f\n",
        rounds, server.c_str(), delay_us, Median(ours), Median(svcmgr), Median(remote),
        Median(ours) / Median(svcmgr), Median(ours) / Median(remote));
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
