// A verification (TBackupVerifier: restore with verbose output read line by line, attach, drop),
// with the file read by the server and fed from this machine, against a stock admin's check of
// the same file on the same server (`gbak -c -se` restoring it, then isql-fb dropping the
// database), alternating, on the 2 M-row test database's backup (made once). Also how soon the
// outcome is known once the restore has ended: the verifier's steps after the end of the service's
// output (attach and drop), timed apart.
//   bench/verify_bench [rounds [database]]   (the 2 M-row one by default; needs
//   scripts/firebird-server.sh start --test)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "firebird/BackupVerifier.h"
#include "BenchEnv.h"
#include "firebird/IBDatabase.h"
#include "firebird/IBServices.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int Shell(const std::string& cmd) {
    const int rc = std::system((cmd + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    auto env = ReadServerEnv();
    const std::string pw = env["QV_FB_PASSWORD"], dir = env["QV_FB_BACKUP_DIR"];
    const std::string database = argc > 2 ? argv[2] : env["QV_FB_BIG_DB"];
    const std::string own_name = database.substr(database.rfind('/') + 1);
    const std::string gbk = dir + "/verify-bench-" + own_name + ".gbk";
    const std::string login = " -user SYSDBA -password " + Quote(pw);
    if (access(gbk.c_str(), F_OK) != 0) {
        std::printf("backing up %s once...\n", database.c_str());
        if (Shell("gbak -b -se localhost:service_mgr " + Quote(database) + " " + Quote(gbk) +
                  login) != 0) {
            std::fprintf(stderr, "backup failed\n");
            return 1;
        }
    }
    qv::TVerifyRequest request;
    request.server_name = "localhost";
    request.user = "SYSDBA";
    request.password = pw;
    request.database = database;
    request.backup_file = gbk;
    const std::string gbak_db = dir + "/verify-bench-gbak.fdb";
    const std::string scratch = qv::ScratchDatabasePath(request);
    qv::TVerifyRequest fed_request = request;
    fed_request.local_file = gbk;

    auto verify = [&](const qv::TVerifyRequest& request) {
        std::mutex mu;
        std::condition_variable cv;
        std::optional<qv::TVerifyOutcome> outcome;
        const auto t0 = Clock::now();
        qv::TBackupVerifier verifier(request, [&](const qv::TVerifyOutcome& o) {
            std::lock_guard lock(mu);
            outcome = o;
            cv.notify_all();
        });
        std::unique_lock lock(mu);
        cv.wait(lock, [&] { return outcome.has_value(); });
        const double ms = Ms(Clock::now() - t0);
        if (!outcome->succeeded) std::fprintf(stderr, "verify: %s\n", outcome->message.c_str());
        return ms;
    };
    auto gbak = [&] {
        const auto t0 = Clock::now();
        const int restored =
            Shell("gbak -c -se localhost:service_mgr " + Quote(gbk) + " " + Quote(gbak_db) + login);
        const int dropped = Shell("echo 'DROP DATABASE;' | isql-fb -q" + login + " " +
                                  Quote("localhost:" + gbak_db));
        const double ms = Ms(Clock::now() - t0);
        if (restored || dropped) std::fprintf(stderr, "gbak %d, drop %d\n", restored, dropped);
        return ms;
    };
    // The verifier's own steps, timed apart: from the end of the service's output (the
    // restore has ended) to the outcome.
    auto after_end = [&] {
        qv::TIBRestoreService restore(nullptr);
        restore.SetLoginPrompt(false);
        restore.SetProtocol(qv::TProtocol::TCP);
        restore.SetServerName("localhost");
        restore.Params().Add("user_name=SYSDBA");
        restore.Params().Add("password=" + pw);
        restore.BackupFile().Add(gbk);
        restore.SetDatabaseName(scratch);
        restore.SetOptions(qv::CreateNewDB | qv::Replace);
        restore.SetVerbose(true);
        restore.SetActive(true);
        restore.ServiceStart();
        bool finished = false;
        while (!restore.OutputEnded()) finished |= qv::IsRestoreFinishedLine(restore.GetNextLine());
        const auto end = Clock::now();
        restore.SetActive(false);
        qv::AttachAndDropDatabase("localhost:" + scratch, qv::DatabaseParamBlock("SYSDBA", pw),
                                  qv::TIBCustomService::kDefaultCallTimeoutMs);
        if (!finished) std::fprintf(stderr, "no closing message\n");
        return Ms(Clock::now() - end);
    };

    std::vector<double> ours, fed, theirs, known;
    for (int i = 0; i < rounds; ++i) {
        if (i % 2 == 0) {
            ours.push_back(verify(request));
            fed.push_back(verify(fed_request));
            theirs.push_back(gbak());
        } else {
            theirs.push_back(gbak());
            fed.push_back(verify(fed_request));
            ours.push_back(verify(request));
        }
        known.push_back(after_end());
        std::printf(
            "round %d: verification %.0f ms (fed %.0f ms), gbak -c -se + drop %.0f ms, outcome "
            "%.1f ms after the restore's end\n",
            i + 1, ours.back(), fed.back(), theirs.back(), known.back());
    }
    std::printf(
        "median of %d: verification %.0f ms (fed %.0f ms), gbak -c -se + drop %.0f ms, ratio "
        "%.3f (fed %.3f); outcome known %.1f ms after the restore's end\n",
        rounds, Median(ours), Median(fed), Median(theirs), Median(ours) / Median(theirs),
        Median(fed) / Median(theirs), Median(known));
    return 0;
}
