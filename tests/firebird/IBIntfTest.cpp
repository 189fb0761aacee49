// Loading the client library: versions, missing entry points, retries. Runs against the test
// doubles by absolute path, one after the other in this process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "FbDouble.h"
#include "firebird/IB.h"
#include "firebird/IBIntf.h"
#include "firebird/IBServices.h"

namespace qv {
namespace {

class LoadTest : public ::testing::Test {
protected:
    void TearDown() override {
        FreeClientLibrary();
        SetClientLibraryNames({FBD_FULL_DIR "/libfbclient.so.2"});
    }
};

TEST_F(LoadTest, CompleteLibraryIsVersion6) {
    FreeClientLibrary();
    SetClientLibraryNames({"/nonexistent/libfbclient.so.2", FBD_FULL_DIR "/libfbclient.so.2"});
    EnsureClientLibrary();
    EXPECT_TRUE(ClientLibraryLoaded());
    EXPECT_EQ(ClientVersion(), 6);
}

TEST_F(LoadTest, OlderLibraryLoadsAsVersion5AndServiceCallsNameThemselves) {
    FreeClientLibrary();
    SetClientLibraryNames({FBD_V5_DIR "/libfbclient.so.2"});
    EnsureClientLibrary();
    EXPECT_EQ(ClientVersion(), 5);
    TIBBackupService svc(nullptr);
    svc.SetLoginPrompt(false);
    svc.Params().Add("user_name=SYSDBA");
    try {
        svc.SetActive(true);
        FAIL() << "attach went through";
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.SqlCode(), 3);
        EXPECT_STREQ(e.what(),
                     "isc_service_attach is an InterBase 6 function. Please upgrade to InterBase "
                     "6 to use this functonality");
    }
    EXPECT_FALSE(svc.Active());
    isc_svc_handle h = 5;
    EXPECT_THROW(ClientLibrary::ServiceDetach(StatusVector(), &h), EIBClientError);
    try {
        ClientLibrary::ServiceStart(StatusVector(), &h, nullptr, 1, "\x01");
    } catch (const EIBClientError& e) {
        EXPECT_NE(std::string(e.what()).find("isc_service_start is an InterBase 6"),
                  std::string::npos);
    }
}

TEST_F(LoadTest, MissingRequiredEntryPointRefusesTheLibrary) {
    FreeClientLibrary();
    SetClientLibraryNames({FBD_MISSING_DIR "/libfbclient.so.2"});
    try {
        LoadClientLibrary();
        FAIL() << "library accepted";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code(), 127);
        std::string m = e.what();
        EXPECT_EQ(m.rfind("System Error.  Code: 127.\r\n", 0), 0u) << m;
        EXPECT_NE(m.find("isc_dsql_prepare"), std::string::npos) << m;
    }
    EXPECT_FALSE(ClientLibraryLoaded());
    // Nothing was left resolved: a call raises instead of going through a stale entry point.
    isc_svc_handle h = 0;
    EXPECT_THROW(ClientLibrary::ServiceAttach(StatusVector(), 1, "x", &h, 0, ""), EIBClientError);
}

TEST_F(LoadTest, MissingLibraryRaisesAndTheNextCallTriesAgain) {
    FreeClientLibrary();
    SetClientLibraryNames({"/nonexistent/libfbclient.so.2"});
    try {
        TIBBackupService svc(nullptr);
        FAIL() << "component created without a library";
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.SqlCode(), 1);
        EXPECT_EQ(e.StatusCode(), 0);
        EXPECT_STREQ(e.what(),
                     "InterBase library gds32.dll not found in the path. Please install InterBase "
                     "to use this functionality");
    }
    SetClientLibraryNames({FBD_FULL_DIR "/libfbclient.so.2"});
    EXPECT_NO_THROW(EnsureClientLibrary());
    EXPECT_EQ(ClientVersion(), 6);
}

// The real client library starts threads of its own (its signal-driven shutdown, its timers)
// that run until the process ends. The end of the process must leave the library loaded under
// them: pulling its code away made the exit crash.
TEST_F(LoadTest, ProcessEndLeavesTheLibraryLoadedUnderItsOwnThreads) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            FreeClientLibrary();
            SetClientLibraryNames({FBD_FULL_DIR "/libfbclient.so.2"});
            EnsureClientLibrary();
            // Looked up through a second reference, dropped again: the program's is the only one.
            void* lib = dlopen(FBD_FULL_DIR "/libfbclient.so.2", RTLD_NOW | RTLD_NOLOAD);
            auto start =
                lib ? reinterpret_cast<fbd_start_own_thread_fn>(dlsym(lib, "fbd_start_own_thread"))
                    : nullptr;
            if (lib) dlclose(lib);
            if (!start) std::_Exit(3);
            start();
            alarm(20);  // an exit that hangs in the crash fails too
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ClientErrors, TableKeepsItsNumbersAndWording) {
    EXPECT_EQ(ClientErrorPattern(10), "Operation cancelled at user's request");
    EXPECT_EQ(ClientErrorPattern(88), "SPB Constant Not supported");
    EXPECT_EQ(ClientErrorPattern(89), "SPB Constant Unknown");
    EXPECT_EQ(ClientErrorPattern(90), "Cannot perform operation -- service is not attached");
    EXPECT_EQ(ClientErrorPattern(91), "Cannot perform operation -- service is attached");
    EXPECT_EQ(ClientErrorPattern(92), "Server Name Missing");
    EXPECT_EQ(ClientErrorPattern(94), "start Parameters missing or incorrect");
    EXPECT_EQ(ClientErrorPattern(93), "");
    EXPECT_EQ(ClientErrorPattern(-1), "");
    try {
        RaiseClientError(ClientErrorCode::ServiceParamNotSupported, {"sql_role_name"});
    } catch (const EIBError& e) {  // caught as the base class
        EXPECT_EQ(e.SqlCode(), 88);
        EXPECT_STREQ(e.what(), "SPB Constant Not supported");
    }
}

}  // namespace
}  // namespace qv
