// Backup verification against the real local Firebird 3 server: a database of the test's own
// with two tables, backed up once, then verified whole (by the server's own path, as after a
// completed backup, and fed from this machine), cut short, replaced by something else, into a
// directory the server cannot write, twice at once into one directory, and stopped midway.
// And the backup streamed to this machine: whole, failed, stopped, cut off, into a full disk.
// A file that may be cut short is only ever fed: restored by its server-side path, it makes
// the server write its volume prompt into whatever it holds as descriptor 1 (another
// connection, a database file).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "FirebirdServer.h"
#include "TcpRelay.h"
#include "firebird/BackupStreamer.h"
#include "firebird/BackupVerifier.h"
#include "platform/Strings.h"

namespace qv {
namespace {

using test::FirebirdServer;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class VerifyServerTest : public ::testing::Test {
protected:
    // The database (tables A and B, 3 000 rows each, their texts "alpha-N" and "omega-N") and
    // its backup, made once for all the cases; a directory of this machine for the files fed.
    struct Fixture {
        std::string db, gbk, bytes, local_dir, big_gbk;
        bool made = false;
    };
    static Fixture& Made() {
        static Fixture f;
        return f;
    }

    void SetUp() override {
        QV_REQUIRE_SERVER(server);
        Fixture& f = Made();
        if (f.made) return;
        const std::string tag = "verify-" + std::to_string(getpid());
        f.db = FirebirdServer::DirOf(server.sample_db) + "/" + tag + ".fdb";
        f.gbk = server.backup_dir + "/" + tag + ".gbk";
        char dir[] = "/tmp/qv-verify-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        f.local_dir = dir;
        const std::string script = f.local_dir + "/make.sql";
        std::ofstream(script)
            << "CREATE DATABASE 'localhost:" << f.db << "' USER 'SYSDBA' PASSWORD '"
            << server.password << "';\n"
            << "CREATE TABLE A (ID INTEGER NOT NULL PRIMARY KEY, S VARCHAR(40));\n"
               "CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, S VARCHAR(40));\n"
               "COMMIT;\nSET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 3000) DO BEGIN "
               "INSERT INTO A VALUES (:I, 'alpha-' || :I); INSERT INTO B VALUES (:I, 'omega-' "
               "|| :I); I = I + 1; END END^\nSET TERM ;^\nCOMMIT;\n";
        std::string out;
        ASSERT_EQ(FirebirdServer::Run("isql-fb -q -i " + FirebirdServer::Quote(script), &out), 0)
            << out;
        ASSERT_EQ(ServerBackup(f.db, f.gbk, &out), 0) << out;
        f.bytes = ReadFile(f.gbk);
        ASSERT_GT(f.bytes.size(), 100000u);
        f.made = true;
    }

    static void TearDownTestSuite() {
        Fixture& f = Made();
        if (f.db.empty()) return;
        std::remove(f.db.c_str());
        std::remove(f.gbk.c_str());
        if (!f.big_gbk.empty()) std::remove(f.big_gbk.c_str());
        FirebirdServer::Run("rm -rf " + FirebirdServer::Quote(f.local_dir));
    }

    int ServerBackup(const std::string& db, const std::string& gbk, std::string* out) const {
        return FirebirdServer::Run("gbak -b -se localhost:service_mgr " +
                                       FirebirdServer::Quote(db) + " " +
                                       FirebirdServer::Quote(gbk) + " -user SYSDBA -password " +
                                       FirebirdServer::Quote(server.password),
                                   out);
    }

    // A file of this machine, holding `bytes`, to be fed.
    std::string LocalFile(const std::string& name, const std::string& bytes) const {
        const std::string path = Made().local_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // The server reads the file itself: only for a complete one, as after a completed backup.
    TVerifyRequest ServerSideRequest(const std::string& gbk) const {
        TVerifyRequest r;
        r.server_name = "localhost";
        r.user = "SYSDBA";
        r.password = server.password;
        r.database = Made().db;
        r.backup_file = gbk;
        r.settings_id = Fnv1aHex(Made().local_dir + "/settings.ini", 8);
        return r;
    }
    // The file is read here and fed; the scratch database goes where the server may write.
    TVerifyRequest FedRequest(const std::string& local_file) const {
        TVerifyRequest r = ServerSideRequest(local_file);
        r.local_file = local_file;
        r.scratch_dir = server.backup_dir;
        return r;
    }

    // Runs a verification to its end: its one outcome.
    TVerifyOutcome Verify(const TVerifyRequest& request) {
        std::mutex mu;
        std::vector<TVerifyOutcome> seen;
        TBackupVerifier verifier(request, [&](const TVerifyOutcome& o) {
            std::lock_guard lock(mu);
            seen.push_back(o);
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!verifier.Finished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(mu);
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? TVerifyOutcome{false, "<none>"} : seen[0];
    }

    // The 2 000 000-row test database's backup, made by the server once: a restore that
    // takes seconds.
    const std::string& BigBackup() {
        Fixture& f = Made();
        if (f.big_gbk.empty()) {
            const std::string gbk =
                server.backup_dir + "/verify-big-" + std::to_string(getpid()) + ".gbk";
            std::string out;
            EXPECT_EQ(ServerBackup(server.big_db, gbk, &out), 0) << out;
            f.big_gbk = gbk;
        }
        return f.big_gbk;
    }

    TStreamRequest StreamRequest(const std::string& database, const std::string& copy) const {
        TStreamRequest r;
        r.server_name = "localhost";
        r.user = "SYSDBA";
        r.password = server.password;
        r.database = database;
        r.local_path = copy;
        return r;
    }
    // Runs a stream to its end: its one outcome.
    TStreamOutcome Stream(const TStreamRequest& request) {
        std::mutex mu;
        std::vector<TStreamOutcome> seen;
        TBackupStreamer streamer(request, [&](const TStreamOutcome& o) {
            std::lock_guard lock(mu);
            seen.push_back(o);
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!streamer.Finished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(mu);
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? TStreamOutcome{false, "<none>"} : seen[0];
    }
    // Waits until the stream's .part has passed `bytes`.
    static bool PartPasses(const std::string& copy, off_t bytes) {
        struct stat st {};
        for (int i = 0; i < 3000; ++i) {
            if (stat(PartPath(copy).c_str(), &st) == 0 && st.st_size > bytes) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    FirebirdServer server;
};

TEST_F(VerifyServerTest, ACompleteBackupVerifiesEitherWayAndNothingIsLeft) {
    const std::string gbk = Made().gbk;
    for (const TVerifyRequest& r :
         {ServerSideRequest(gbk), FedRequest(LocalFile("whole.gbk", Made().bytes))}) {
        SCOPED_TRACE(r.local_file.empty() ? "read by the server" : "fed");
        const TVerifyOutcome o = Verify(r);
        EXPECT_TRUE(o.succeeded) << o.message;
        EXPECT_EQ(o.message, "");
        EXPECT_FALSE(Exists(ScratchDatabasePath(r)));
    }
    EXPECT_EQ(ReadFile(gbk), Made().bytes);  // the backup itself is untouched
}

// Each cut ends with the server's read error once the whole stream is sent (a restore that
// reads a cut file on the server ends quietly instead, after its volume prompt). A session
// that another client holds meanwhile goes on working. The backup ends in zero padding: the
// cut near the end is taken from its last record.
TEST_F(VerifyServerTest, AFileCutShortIsIncompleteAndAnotherSessionGoesOn) {
    const std::string out = Made().local_dir + "/isql.out";
    FILE* isql =
        popen(("isql-fb -q -user SYSDBA -password " + FirebirdServer::Quote(server.password) + " " +
               FirebirdServer::Quote("localhost:" + Made().db) + " >" + FirebirdServer::Quote(out) +
               " 2>&1")
                  .c_str(),
              "w");
    ASSERT_TRUE(isql);
    std::fputs("SELECT COUNT(*) FROM A;\n", isql);
    std::fflush(isql);
    for (int i = 0; i < 100 && Occurrences(ReadFile(out), "3000") < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(Occurrences(ReadFile(out), "3000"), 1u) << ReadFile(out);

    const std::string& bytes = Made().bytes;
    auto middle = [&](const std::string& marker) {
        const size_t first = bytes.find(marker), last = bytes.rfind(marker);
        EXPECT_NE(first, std::string::npos) << marker;
        return std::make_pair(first, (first + last) / 2);
    };
    const auto a = middle("alpha-"), b = middle("omega-");
    const size_t first_table = std::min(a, b).second, last_table = std::max(a, b).second;
    size_t records_end = bytes.size();
    while (records_end > 0 && bytes[records_end - 1] == '\0') --records_end;
    for (size_t cut : {first_table, last_table, records_end - 300, size_t{65536}, size_t{300}}) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(bytes.size()));
        const TVerifyRequest r =
            FedRequest(LocalFile("cut" + std::to_string(cut) + ".gbk", bytes.substr(0, cut)));
        const TVerifyOutcome o = Verify(r);
        EXPECT_FALSE(o.succeeded);
        EXPECT_EQ(o.message, kBackupIncomplete);
        EXPECT_FALSE(Exists(ScratchDatabasePath(r)));  // dropped after the failure too
    }

    std::fputs("SELECT COUNT(*) FROM B;\n", isql);
    EXPECT_EQ(pclose(isql), 0);
    const std::string session = ReadFile(out);
    EXPECT_EQ(Occurrences(session, "3000"), 2u) << session;
    EXPECT_EQ(session.find("rror"), std::string::npos) << session;
}

TEST_F(VerifyServerTest, AFileThatIsNotABackupFailsWithTheServersText) {
    const TVerifyRequest r = FedRequest(LocalFile("not.gbk", std::string(20000, 'x')));
    const TVerifyOutcome o = Verify(r);
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message,
              "expected backup description record\r\nExiting before completion due to errors");
    EXPECT_FALSE(Exists(ScratchDatabasePath(r)));
}

TEST_F(VerifyServerTest, AScratchDirectoryTheServerCannotWriteFailsWithTheServersText) {
    TVerifyRequest r = ServerSideRequest(Made().gbk);
    r.scratch_dir = server.state_dir;  // root's own, mode 0700
    const std::string scratch = ScratchDatabasePath(r);
    const TVerifyOutcome o = Verify(r);
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message, "I/O error during \"open O_CREAT\" operation for file \"" + scratch +
                             "\"\r\nError while trying to create file\r\nPermission denied");
    EXPECT_FALSE(Exists(scratch));
}

// Two settings files, one database and one scratch directory: each its own scratch database,
// so both verify at the same time; and a scratch database left behind (by a run that was
// killed) is replaced by the next verification of its settings file.
TEST_F(VerifyServerTest, TwoSettingsFilesShareAScratchDirectoryAndALeftScratchIsReplaced) {
    const std::string file = LocalFile("shared.gbk", Made().bytes);
    TVerifyRequest first = FedRequest(file), second = FedRequest(file);
    second.settings_id = Fnv1aHex(Made().local_dir + "/other.ini", 8);
    ASSERT_NE(ScratchDatabasePath(first), ScratchDatabasePath(second));
    std::string out;
    ASSERT_EQ(FirebirdServer::Run(
                  "echo \"CREATE DATABASE 'localhost:" + ScratchDatabasePath(second) +
                      "' USER 'SYSDBA' PASSWORD '" + server.password + "';\" | isql-fb -q",
                  &out),
              0)
        << out;
    ASSERT_TRUE(Exists(ScratchDatabasePath(second)));
    std::mutex mu;
    std::vector<TVerifyOutcome> seen;
    auto report = [&](const TVerifyOutcome& o) {
        std::lock_guard lock(mu);
        seen.push_back(o);
    };
    {
        TBackupVerifier one(first, report), two(second, report);
        for (int i = 0; i < 6000 && !(one.Finished() && two.Finished()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(seen.size(), 2u);
    for (const TVerifyOutcome& o : seen) EXPECT_TRUE(o.succeeded) << o.message;
    EXPECT_FALSE(Exists(ScratchDatabasePath(first)));
    EXPECT_FALSE(Exists(ScratchDatabasePath(second)));
}

// Stopped while the server restores (as at SIGTERM): no outcome, and no scratch database is
// left. A fed restore ends with its connection; one that reads its file on the server goes on
// to its end, and the drop waits for that.
TEST_F(VerifyServerTest, StoppedMidwayLeavesNoScratchDatabase) {
    const std::string& big = BigBackup();
    TVerifyRequest fed = FedRequest(big), server_side = ServerSideRequest(big);
    server_side.drop_wait_ms = 60000;
    for (const TVerifyRequest& r : {fed, server_side}) {
        SCOPED_TRACE(r.local_file.empty() ? "read by the server" : "fed");
        const std::string scratch = ScratchDatabasePath(r);
        std::atomic<int> reports{0};
        TBackupVerifier verifier(r, [&](const TVerifyOutcome&) { ++reports; });
        ASSERT_TRUE(FirebirdServer::WaitForFile(scratch, 30));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_TRUE(verifier.Stop(70000));
        const auto took = std::chrono::steady_clock::now() - before;
        EXPECT_EQ(reports, 0);
        EXPECT_FALSE(Exists(scratch));
        if (!r.local_file.empty()) {
            EXPECT_LT(took, std::chrono::seconds(10));
        }
    }
}

// Streamed to this machine, the backup is the server-side one but for the header's time stamp,
// and restores whole when fed back; a database the server cannot open fails with its text, and
// the copy made before stays as it was, with no .part beside it.
TEST_F(VerifyServerTest, AStreamedCopyIsTheBackupAndAFailedOneKeepsThePreviousCopy) {
    const std::string copy = Made().local_dir + "/streamed.gbk";
    TStreamOutcome o = Stream(StreamRequest(Made().db, copy));
    ASSERT_TRUE(o.succeeded) << o.message;
    const std::string streamed = ReadFile(copy), &served = Made().bytes;
    EXPECT_EQ(o.bytes, static_cast<int64_t>(streamed.size()));
    ASSERT_EQ(streamed.size(), served.size());
    size_t differing = 0;
    for (size_t i = 0; i < served.size(); ++i) differing += streamed[i] != served[i];
    EXPECT_LE(differing, 8u);  // the time stamp
    EXPECT_FALSE(Exists(PartPath(copy)));
    const TVerifyOutcome restored = Verify(FedRequest(copy));
    EXPECT_TRUE(restored.succeeded) << restored.message;

    const std::string missing =
        FirebirdServer::DirOf(Made().db) + "/no-such-" + std::to_string(getpid()) + ".fdb";
    o = Stream(StreamRequest(missing, copy));
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message, "I/O error during \"open\" operation for file \"" + missing +
                             "\"\r\nError while trying to open file\r\nNo such file or directory");
    EXPECT_EQ(ReadFile(copy), streamed);
    EXPECT_FALSE(Exists(PartPath(copy)));
}

// The 2 M-row database's stream, stopped (as at the program's end) and cut off (the connection
// lost): stopped within 3 s without an outcome, cut off as a failure; no .part either way, and
// the previous copy untouched.
TEST_F(VerifyServerTest, AStreamStoppedOrCutOffLeavesNoPart) {
    const std::string copy = Made().local_dir + "/big.gbk";
    std::ofstream(copy) << "the previous copy";
    {
        std::atomic<int> reports{0};
        TBackupStreamer streamer(StreamRequest(server.big_db, copy),
                                 [&](const TStreamOutcome&) { ++reports; });
        ASSERT_TRUE(PartPasses(copy, 1 << 20));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_TRUE(streamer.Stop(3000));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
        EXPECT_EQ(reports, 0);
        EXPECT_FALSE(Exists(PartPath(copy)));
    }
    test::TcpRelay relay;
    ASSERT_TRUE(relay.ok());
    TStreamRequest through = StreamRequest(server.big_db, copy);
    through.server_name = "127.0.0.1/" + std::to_string(relay.Port());
    std::thread cutter([&] {
        if (PartPasses(copy, 1 << 20)) relay.Cut();
    });
    const TStreamOutcome o = Stream(through);
    cutter.join();
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message, "Error reading data from the connection");
    EXPECT_FALSE(Exists(PartPath(copy)));
    EXPECT_EQ(ReadFile(copy), "the previous copy");
}

// Run by scripts/small-fs.sh in a mount namespace of its own: QV_SMALL_FS is a 1 MiB tmpfs and
// QV_READONLY_DIR a read-only one. The full disk fails with the system's text, the previous copy
// stays, no .part; the read-only directory is named before the server is asked.
TEST_F(VerifyServerTest, AFullLocalDiskFailsWithTheSystemsText) {
    const char* small = std::getenv("QV_SMALL_FS");
    const char* readonly = std::getenv("QV_READONLY_DIR");
    if (!small || !readonly) GTEST_SKIP() << "run through scripts/small-fs.sh";
    const std::string copy = std::string(small) + "/big.gbk";
    const std::string previous(300000, 'p');
    std::ofstream(copy) << previous;
    const TStreamOutcome o = Stream(StreamRequest(server.big_db, copy));
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message, "No space left on device");
    EXPECT_EQ(ReadFile(copy), previous);
    EXPECT_FALSE(Exists(PartPath(copy)));

    EXPECT_EQ(LocalDirProblem(readonly), std::string(readonly) + ": Read-only file system");
    const TStreamOutcome refused =
        Stream(StreamRequest(server.big_db, std::string(readonly) + "/x.gbk"));
    EXPECT_EQ(refused.message, std::string(readonly) + ": Read-only file system");
}

}  // namespace
}  // namespace qv
