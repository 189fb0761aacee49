// Backup verification against the real local Firebird 3 server: a database of the test's own
// with two tables, backed up once, then verified whole, cut short, replaced by something else,
// and into a directory the server cannot write.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "firebird/BackupVerifier.h"
#include "FirebirdServer.h"

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

class VerifyServerTest : public ::testing::Test {
protected:
    // The database (tables A and B, 3 000 rows each, their texts "alpha-N" and "omega-N") and
    // its backup, made once for all the cases.
    struct Fixture {
        std::string db, gbk, bytes;
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
        const std::string tag = "i21verify-" + std::to_string(getpid());
        f.db = FirebirdServer::DirOf(server.sample_db) + "/" + tag + ".fdb";
        f.gbk = server.backup_dir + "/" + tag + ".gbk";
        const std::string script = "/tmp/" + tag + ".sql";
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
        const int made =
            FirebirdServer::Run("isql-fb -q -i " + FirebirdServer::Quote(script), &out);
        std::remove(script.c_str());
        ASSERT_EQ(made, 0) << out;
        ASSERT_EQ(FirebirdServer::Run(
                      "gbak -b -se localhost:service_mgr " + FirebirdServer::Quote(f.db) + " " +
                          FirebirdServer::Quote(f.gbk) + " -user SYSDBA -password " +
                          FirebirdServer::Quote(server.password),
                      &out),
                  0)
            << out;
        f.bytes = ReadFile(f.gbk);
        ASSERT_GT(f.bytes.size(), 100000u);
        f.made = true;
    }

    static void TearDownTestSuite() {
        Fixture& f = Made();
        if (!f.made) return;
        std::remove(f.db.c_str());
        std::remove(f.gbk.c_str());
    }

    // A file of the server's user in the backup directory, removed at the test's end.
    std::string ServerFile(const std::string& name, const std::string& bytes) {
        const std::string path =
            server.backup_dir + "/i21verify-" + std::to_string(getpid()) + "-" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        const passwd* pw = getpwnam("firebird");
        EXPECT_TRUE(pw && chown(path.c_str(), pw->pw_uid, pw->pw_gid) == 0) << path;
        chmod(path.c_str(), 0660);
        made_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const std::string& p : made_) {
            std::remove(p.c_str());
            std::remove(ScratchDatabasePath(p, "").c_str());
        }
    }

    TVerifyRequest Request(const std::string& gbk) const {
        TVerifyRequest r;
        r.server_name = "localhost";
        r.user = "SYSDBA";
        r.password = server.password;
        r.database = Made().db;
        r.backup_file = gbk;
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

    FirebirdServer server;
    std::vector<std::string> made_;
};

TEST_F(VerifyServerTest, ACompleteBackupVerifiesAndNothingIsLeft) {
    const std::string gbk = Made().gbk;
    const TVerifyOutcome o = Verify(Request(gbk));
    EXPECT_TRUE(o.succeeded) << o.message;
    EXPECT_EQ(o.message, "");
    EXPECT_FALSE(Exists(ScratchDatabasePath(gbk, "")));
    EXPECT_EQ(ReadFile(gbk), Made().bytes);  // the backup itself is untouched
}

// Each cut restores without any error from the server; only the output's missing closing
// message tells. The backup ends in zero padding: the cut near the end is taken from its last
// record.
TEST_F(VerifyServerTest, AFileCutShortIsIncomplete) {
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
    for (size_t cut : {first_table, last_table, records_end - 300}) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(bytes.size()));
        const std::string gbk =
            ServerFile("cut" + std::to_string(cut) + ".gbk", bytes.substr(0, cut));
        const TVerifyOutcome o = Verify(Request(gbk));
        EXPECT_FALSE(o.succeeded);
        // The server ends such a restore quietly; now and then (every cut of one run, in two
        // of seven full runs here) it drops the service's connection instead: no proof either.
        EXPECT_TRUE(o.message == kBackupIncomplete ||
                    o.message == "Error reading data from the connection")
            << o.message;
        EXPECT_FALSE(Exists(ScratchDatabasePath(gbk, "")));  // dropped after the failure too
    }
}

TEST_F(VerifyServerTest, AFileThatIsNotABackupFailsWithTheServersText) {
    const std::string gbk = ServerFile("not.gbk", std::string(20000, 'x'));
    const TVerifyOutcome o = Verify(Request(gbk));
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message,
              "expected backup description record\r\nExiting before completion due to errors");
    EXPECT_FALSE(Exists(ScratchDatabasePath(gbk, "")));
}

TEST_F(VerifyServerTest, AScratchDirectoryTheServerCannotWriteFailsWithTheServersText) {
    TVerifyRequest r = Request(Made().gbk);
    r.scratch_dir = server.state_dir;  // root's own, mode 0700
    const std::string scratch = ScratchDatabasePath(r.backup_file, r.scratch_dir);
    const TVerifyOutcome o = Verify(r);
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message, "I/O error during \"open O_CREAT\" operation for file \"" + scratch +
                             "\"\r\nError while trying to create file\r\nPermission denied");
    EXPECT_FALSE(Exists(scratch));
}

// Stopped while the server restores (as at SIGTERM): no outcome. The server ends the restore
// on its own (it holds the scratch database until then); the next verification of the file
// replaces whatever the stopped one left.
TEST_F(VerifyServerTest, StoppedMidwayThenVerifiedAgain) {
    const std::string gbk = Made().gbk, scratch = ScratchDatabasePath(gbk, "");
    std::atomic<int> reports{0};
    {
        TBackupVerifier verifier(Request(gbk), [&](const TVerifyOutcome&) { ++reports; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(verifier.Stop(5000));
    }
    EXPECT_EQ(reports, 0);
    EXPECT_TRUE(server.WaitUntilClosed(scratch, 30)) << scratch;
    const TVerifyOutcome o = Verify(Request(gbk));
    EXPECT_TRUE(o.succeeded) << o.message;
    EXPECT_FALSE(Exists(scratch));
}

}  // namespace
}  // namespace qv
