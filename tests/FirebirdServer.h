#pragma once
// The local Firebird test server that scripts/firebird-server.sh started: its password and
// paths, and the checks the end-to-end tests make with gbak and isql-fb.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace qv::test {

struct FirebirdServer {
    std::string password, sample_db, big_db, backup_dir, state_dir;
    int sample_rows = 0;

    // False (with the reason) when the server script was not run or no server answers.
    static bool Load(FirebirdServer* out, std::string* why) {
        const char* env = std::getenv("QV_FB_ENV");
        std::string path = env ? env : "/var/lib/quorvane-fb/env";
        std::ifstream in(path);
        if (!in) {
            *why = "no Firebird test server: run scripts/firebird-server.sh start --test (" + path +
                   ")";
            return false;
        }
        std::map<std::string, std::string> kv;
        for (std::string line; std::getline(in, line);) {
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string v = line.substr(eq + 1);
            if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'')
                v = v.substr(1, v.size() - 2);
            kv[line.substr(0, eq)] = v;
        }
        out->password = kv["QV_FB_PASSWORD"];
        out->sample_db = kv["QV_FB_SAMPLE_DB"];
        out->backup_dir = kv["QV_FB_BACKUP_DIR"];
        out->big_db =
            kv.count("QV_FB_BIG_DB") ? kv["QV_FB_BIG_DB"] : DirOf(out->sample_db) + "/big.fdb";
        out->state_dir = kv["QV_FB_STATE"];
        out->sample_rows = std::atoi(kv["QV_FB_SAMPLE_ROWS"].c_str());
        // localhost as the client library dials it: every address it resolves to (::1 first
        // with a stock Debian hosts file, where the server listens on ::1 only).
        if (Run("bash -c '(exec 3<>/dev/tcp/localhost/3050)' 2>/dev/null") != 0) {
            *why = "the Firebird test server does not answer on localhost:3050";
            return false;
        }
        return true;
    }

    static bool Required() {
        const char* v = std::getenv("QV_SERVER_REQUIRED");
        return v && std::string(v) == "1";
    }

    static int Run(const std::string& cmd, std::string* output = nullptr) {
        FILE* p = popen((cmd + " 2>&1").c_str(), "r");
        if (!p) return -1;
        char buf[4096];
        std::string out;
        while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        int rc = pclose(p);
        if (output) *output = out;
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    static std::string Quote(const std::string& s) {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }

    // Restores the backup through the server and counts the rows of table T; -1 when the
    // backup does not restore. Retries while the server may still be writing it.
    int RestoreAndCount(const std::string& gbk, int seconds = 60) const {
        std::string restored = DirOf(sample_db) + "/restored-" + std::to_string(getpid()) + ".fdb";
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            Run("rm -f " + Quote(restored));
            std::string out;
            int rc = Run("gbak -c -se localhost:service_mgr " + Quote(gbk) + " " + Quote(restored) +
                             " -user SYSDBA -password " + Quote(password),
                         &out);
            if (rc == 0) break;
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        std::string out;
        Run("echo 'select count(*) from T;' | isql-fb -q -user SYSDBA -password " +
                Quote(password) + " " + Quote("localhost:" + restored),
            &out);
        Run("rm -f " + Quote(restored));
        size_t eq = out.find("=====");
        if (eq == std::string::npos) return -1;
        return std::atoi(out.c_str() + out.find_first_of("0123456789", eq));
    }

    static std::string DirOf(const std::string& p) { return p.substr(0, p.rfind('/')); }

    // Waits until the server process no longer holds `path` open (as root, through /proc).
    bool WaitUntilClosed(const std::string& path, int seconds) const {
        std::ifstream pid_file(state_dir + "/server.pid");
        std::string pid;
        if (!(pid_file >> pid)) return false;
        for (int i = 0; i < seconds * 10; ++i) {
            if (Run("ls -l /proc/" + pid + "/fd | grep -qF -- " + Quote(" " + path)) != 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    static bool WaitForFile(const std::string& path, int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            if (access(path.c_str(), F_OK) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
};

// Without a test server the test is skipped with the reason (a bare ctest on a developer's
// machine); when scripts/test.sh started one (QV_SERVER_REQUIRED=1), failing to reach it fails.
#define QV_REQUIRE_SERVER(server)                                       \
    do {                                                                \
        std::string why_;                                               \
        if (!::qv::test::FirebirdServer::Load(&(server), &why_)) {      \
            if (::qv::test::FirebirdServer::Required()) FAIL() << why_; \
            GTEST_SKIP() << why_;                                       \
        }                                                               \
    } while (0)

}  // namespace qv::test
