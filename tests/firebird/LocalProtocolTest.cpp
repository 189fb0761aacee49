// The Local protocol ("service_mgr" with no host) on Linux: the embedded engine inside this
// process, not the server. The backup runs in a thread of the calling process, so the process
// must stay alive until the file is complete (Quorvane, a resident program, does).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "FirebirdServer.h"
#include "TestSupport.h"
#include "firebird/IB.h"
#include "firebird/IBServices.h"

namespace qv {
namespace {

using test::FirebirdServer;

TEST(LocalProtocol, EmbeddedBackupAsRootIgnoresThePasswordAndWritesAsRoot) {
    FirebirdServer server;
    QV_REQUIRE_SERVER(server);
    if (geteuid() != 0) GTEST_SKIP() << "as a non-root user the embedded attach fails";
    test::TempDir dir;
    const std::string db = dir / "copy.fdb", gbk = dir / "local.gbk";
    std::filesystem::copy_file(server.sample_db, db);

    TIBBackupService svc(nullptr);
    svc.SetLoginPrompt(false);
    svc.SetProtocol(TProtocol::Local);
    svc.Params().Add("user_name=SYSDBA");
    svc.Params().Add("password=anything at all");
    svc.SetDatabaseName(db);
    svc.BackupFile().Add(gbk);
    svc.SetActive(true);
    svc.ServiceStart();
    svc.SetActive(false);
    // The backup goes on in this process after the detach; wait until it restores.
    ASSERT_TRUE(FirebirdServer::WaitForFile(gbk, 20));
    std::string restore_copy = server.backup_dir + "/local-" + std::to_string(getpid()) + ".gbk";
    for (int i = 0; i < 100; ++i) {  // the file is complete when its size stops changing
        auto a = std::filesystem::file_size(gbk);
        usleep(200000);
        if (a > 0 && a == std::filesystem::file_size(gbk)) break;
    }
    std::filesystem::copy_file(gbk, restore_copy,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(server.RestoreAndCount(restore_copy), server.sample_rows);
    std::filesystem::remove(restore_copy);
    struct stat st {};
    ASSERT_EQ(stat(gbk.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);  // written by this process, not by the server's user
}

}  // namespace
}  // namespace qv
