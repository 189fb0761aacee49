// The service client against the real local Firebird 3 server.
#include <gtest/gtest.h>

#include <filesystem>

#include "FirebirdServer.h"
#include "firebird/IB.h"
#include "firebird/IBIntf.h"
#include "firebird/IBServices.h"

namespace qv {
namespace {

using test::FirebirdServer;

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QV_REQUIRE_SERVER(server);
        svc = std::make_unique<TIBBackupService>(nullptr);
        svc->SetLoginPrompt(false);
        svc->SetProtocol(TProtocol::TCP);
        svc->SetServerName("localhost");
        SetLogin("SYSDBA", server.password);
        svc->SetDatabaseName(server.sample_db);
    }
    void SetLogin(const std::string& user, const std::string& password) {
        svc->Params().Clear();
        svc->Params().Add("user_name=" + user);
        svc->Params().Add("password=" + password);
    }
    std::string Gbk(const std::string& name) {
        std::string p = server.backup_dir + "/" + name + "-" + std::to_string(getpid()) + ".gbk";
        std::filesystem::remove(p);
        return p;
    }
    // Attach, start, detach at once, as the program does.
    void Backup(const std::string& file) {
        svc->BackupFile().Clear();
        svc->BackupFile().Add(file);
        svc->SetActive(true);
        svc->ServiceStart();
        svc->SetActive(false);
    }
    template <class E, class F>
    std::string Raised(F f, int32_t* status = nullptr) {
        try {
            f();
        } catch (const E& e) {
            if constexpr (std::is_base_of_v<EIBError, E>)
                if (status) *status = e.StatusCode();
            return e.what();
        }
        return "<none>";
    }
    FirebirdServer server;
    std::unique_ptr<TIBBackupService> svc;
};

TEST_F(ServerTest, BackupOverTcpRestoresWithEveryRow) {
    std::string gbk = Gbk("tcp");
    Backup(gbk);
    EXPECT_FALSE(svc->Active());
    EXPECT_EQ(server.RestoreAndCount(gbk), server.sample_rows);
    std::filesystem::remove(gbk);
}

TEST_F(ServerTest, WrongPasswordFailsAtAttach) {
    SetLogin("SYSDBA", "not-the-password");
    int32_t status = 0;
    EXPECT_EQ(Raised<EIBInterBaseError>([&] { svc->SetActive(true); }, &status),
              "Your user name and password are not defined. Ask your database administrator to "
              "set up a Firebird login");
    EXPECT_EQ(status, 335544472);
    EXPECT_FALSE(svc->Active());
}

TEST_F(ServerTest, NoServerOnThePortFailsAtAttach) {
    svc->SetServerName("localhost/3059");  // nothing listens there: connection refused
    int32_t status = 0;
    std::string m = Raised<EIBInterBaseError>([&] { svc->SetActive(true); }, &status);
    EXPECT_EQ(m.rfind("Unable to complete network request to host \"localhost", 0), 0u) << m;
    EXPECT_NE(m.find("Failed to establish a connection"), std::string::npos) << m;
    EXPECT_EQ(status, 335544721);
    EXPECT_FALSE(svc->Active());
}

TEST_F(ServerTest, UnknownHostFromFilesOnly) {
    if (!std::getenv("QV_FILES_ONLY_DNS"))
        GTEST_SKIP() << "runs only under scripts/files-only-dns.sh";
    svc->SetServerName("nosuchhost.invalid");
    int32_t status = 0;
    std::string m = Raised<EIBInterBaseError>([&] { svc->SetActive(true); }, &status);
    EXPECT_EQ(m.rfind("Unable to complete network request to host \"nosuchhost.invalid\".\r\n"
                      "Failed to locate host machine",
                      0),
              0u)
        << m;
    EXPECT_EQ(status, 335544721);
    EXPECT_FALSE(svc->Active());
}

// An empty file list sends no file item at all. The server takes the request and its backup
// thread fails; when that happens before the start call returns, the start reports it and the
// handle is dropped.
TEST_F(ServerTest, RequestWithoutBackupFileFailsOnTheServer) {
    svc->SetActive(true);
    svc->BackupFile().Clear();
    try {
        svc->ServiceStart();
        EXPECT_TRUE(svc->Active());
        svc->SetActive(false);
    } catch (const EIBInterBaseError& e) {
        EXPECT_STREQ(e.what(),
                     "requires both input and output filenames\r\nExiting before completion due to "
                     "errors");
        EXPECT_EQ(e.StatusCode(), 336330762);
        EXPECT_FALSE(svc->Active());
    }
}

// A missing database is mostly taken at start and fails on the server later; when the server's
// backup thread fails before the detach, the start or the detach reports the I/O error instead.
TEST_F(ServerTest, MissingDatabaseFailsLateOrAtTheLastCall) {
    svc->SetDatabaseName("/var/lib/firebird/3.0/data/quorvane/does-not-exist.fdb");
    std::string gbk = Gbk("nodb");
    const char* step = "none";
    try {
        svc->BackupFile().Add(gbk);
        step = "attach";
        svc->SetActive(true);
        step = "start";
        svc->ServiceStart();
        step = "detach";
        svc->SetActive(false);
        step = "none";
    } catch (const EIBInterBaseError& e) {
        EXPECT_NE(std::string(e.what()).find("I/O error during \"open\" operation"),
                  std::string::npos)
            << e.what();
    }
    RecordProperty("failed_at", step);
    EXPECT_STRNE(step, "attach");
    EXPECT_FALSE(svc->Active());
    EXPECT_FALSE(FirebirdServer::WaitForFile(gbk, 3));
}

TEST_F(ServerTest, UnwritableBackupDirectoryIsAcceptedAndFailsSilentlyLater) {
    std::string gbk = server.state_dir + "/unwritable.gbk";  // root-only directory
    EXPECT_NO_THROW(Backup(gbk));
    EXPECT_FALSE(FirebirdServer::WaitForFile(gbk, 3));
}

}  // namespace
}  // namespace qv
