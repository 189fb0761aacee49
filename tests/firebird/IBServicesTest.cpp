// The service components over the client-library double: exact bytes, failures and states.
#include "firebird/IBServices.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>

#include "firebird/BackupFollower.h"
#include "firebird/BackupStreamer.h"
#include "firebird/BackupVerifier.h"

#include "FbDouble.h"
#include "firebird/IB.h"
#include "firebird/IBIntf.h"

namespace qv {
namespace {

using test::Bytes;
using test::Cat;

const char* const kDouble = FBD_FULL_DIR "/libfbclient.so.2";

void Sleep(int ms) {
    usleep(static_cast<useconds_t>(ms) * 1000);
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeClientLibrary();
        SetClientLibraryNames({kDouble});
        EnsureClientLibrary();
        dbl = std::make_unique<test::FbDouble>(kDouble);
        ASSERT_TRUE(dbl->ok());
        dbl->Reset();
        svc = std::make_unique<TIBBackupService>(nullptr);
        svc->SetName("IBBackupService1");
        svc->SetLoginPrompt(false);
        svc->SetProtocol(TProtocol::TCP);
        svc->SetServerName("localhost");
        svc->Params().Add("user_name=SYSDBA");
        svc->Params().Add("password=tidewater");
    }
    void TearDown() override {
        svc.reset();
        // Each case ends what it started: a call still on its way would answer the next one.
        if (dbl) {
            EXPECT_TRUE(dbl->AllCallsReturned(3000)) << "a client call outlived its test";
        }
        dbl.reset();
    }
    // The message of the exception that `f` raises, or "<none>".
    template <class E, class F>
    std::string Raised(F f) {
        try {
            f();
        } catch (const E& e) {
            return e.what();
        }
        return "<none>";
    }
    std::unique_ptr<test::FbDouble> dbl;
    std::unique_ptr<TIBBackupService> svc;
};

TEST_F(ServiceTest, AttachBlockBytes) {
    svc->SetActive(true);
    ASSERT_TRUE(svc->Active());
    auto calls = dbl->ServiceCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].data, "localhost:service_mgr");
    EXPECT_EQ(Bytes(calls[0].spb),
              Cat({{0x02, 0x02, 0x1C, 0x06}, Bytes("SYSDBA"), {0x1D, 0x09}, Bytes("tidewater")}));
    EXPECT_EQ(calls[0].handle_in, 0u);  // null on entry
}

TEST_F(ServiceTest, ParamLinesAreReadLikeTheOriginal) {
    svc->Params().Clear();
    for (const char* line : {"ISC_SPB_USER_NAME=x", "", "no equals sign", "  =skipped",
                             "user_name=", "password=a=b", "User_Name=second"})
        svc->Params().Add(line);
    svc->SetActive(true);
    EXPECT_EQ(Bytes(svc->AttachBlock()),
              Cat({{0x02, 0x02, 0x1C, 0x01, 'x', 0x1C, 0x00, 0x1D, 0x03, 'a', '=', 'b', 0x1C, 0x06},
                   Bytes("second")}));
}

TEST_F(ServiceTest, ParameterNameErrorsSendNothingAndTheBlockIsBuiltAgain) {
    svc->Params().Add("sql_role_name=r");
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }), "SPB Constant Not supported");
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }), "SPB Constant Not supported");
    svc->Params().Clear();
    svc->Params().Add(" user_name=x");  // a blank before the name: unknown
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }), "SPB Constant Unknown");
    svc->Params().Clear();
    svc->Params().Add("password=" + std::string(256, 'p'));
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }),
              "SPB parameter password is longer than 255 bytes and cannot be sent");
    EXPECT_FALSE(svc->Active());
    EXPECT_TRUE(dbl->ServiceCalls().empty());
    svc->Params().Clear();
    svc->Params().Add("password=" + std::string(255, 'p'));
    svc->SetActive(true);
    EXPECT_EQ(dbl->ServiceCalls().at(0).spb.size(), 2u + 2u + 255u);
}

TEST_F(ServiceTest, ServiceNamesPerProtocol) {
    svc->SetProtocol(TProtocol::SPX);
    EXPECT_EQ(svc->ConnectString(), "localhost@service_mgr");
    svc->SetProtocol(TProtocol::NamedPipe);
    EXPECT_EQ(svc->ConnectString(), "\\\\localhost\\service_mgr");
    svc->SetProtocol(TProtocol::Local);
    EXPECT_EQ(svc->ServerName(), "");  // Local empties the server name
    svc->SetActive(true);
    EXPECT_EQ(dbl->ServiceCalls().at(0).data, "service_mgr");
}

TEST_F(ServiceTest, NetworkProtocolWithoutServerNameFailsBeforeAnyCall) {
    svc->SetServerName("");
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }), "Server Name Missing");
    EXPECT_FALSE(svc->Active());
    EXPECT_TRUE(dbl->ServiceCalls().empty());
}

TEST_F(ServiceTest, WhileAttachedSettingsRefuseChanges) {
    svc->SetActive(true);
    svc->SetActive(true);  // same value: nothing
    EXPECT_EQ(dbl->ServiceCalls().size(), 1u);
    const std::string attached = "Cannot perform operation -- service is attached";
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->Params().Add("x=y"); }), attached);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->Params().Clear(); }), attached);
    EXPECT_EQ(svc->Params().Count(), 2u);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetServerName("other"); }), attached);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetProtocol(TProtocol::Local); }), attached);
    svc->SetProtocol(TProtocol::TCP);  // unchanged value: accepted
    svc->SetServerName("localhost");
    svc->SetLoginPrompt(false);
    svc->SetActive(false);
    EXPECT_EQ(dbl->Names(), (std::vector<std::string>{"isc_service_attach", "isc_service_detach"}));
    EXPECT_EQ(dbl->OpenHandles(), 0);
    const std::string detached = "Cannot perform operation -- service is not attached";
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->ServiceStart(); }), detached);
}

TEST_F(ServiceTest, LoginStep) {
    svc->SetLoginPrompt(true);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }),
              "Operation cancelled at user's request");
    EXPECT_TRUE(dbl->ServiceCalls().empty());
    svc->OnLogin = [](TIBCustomService*, TStringList& params) {
        params.Clear();
        params.Add("user_name=fromlogin");
    };
    svc->SetActive(true);
    EXPECT_EQ(svc->Params().Lines(), std::vector<std::string>{"user_name=fromlogin"});
    EXPECT_EQ(Bytes(dbl->ServiceCalls().at(0).spb),
              Cat({{0x02, 0x02, 0x1C, 0x09}, Bytes("fromlogin")}));
}

TEST_F(ServiceTest, AttachFailureCarriesTheServerTexts) {
    dbl->Fail("isc_service_attach", 335544721, -902,
              {"Unable to complete network request to host \"localhost\".",
               "Failed to establish a connection."});
    try {
        svc->SetActive(true);
        FAIL();
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.SqlCode(), -902);
        EXPECT_EQ(e.StatusCode(), 335544721);
        EXPECT_STREQ(e.what(),
                     "Unable to complete network request to host \"localhost\".\r\n"
                     "Failed to establish a connection");
    }
    EXPECT_FALSE(svc->Active());
    EXPECT_EQ(svc->Handle(), 0u);
}

TEST_F(ServiceTest, StatusTextJoiningRules) {
    struct Case {
        std::vector<std::string> texts;
        std::string message;
    } cases[] = {
        {{"line\n", "next"}, "line\nnext"},
        {{"a", "b", "c."}, "a\r\nb\r\nc"},
        {{"two dots.."}, "two dots."},
        {{}, ""},
    };
    for (auto& c : cases) {
        dbl->Fail("isc_service_attach", 42, -1, c.texts);
        try {
            svc->SetActive(true);
            FAIL();
        } catch (const EIBInterBaseError& e) {
            EXPECT_EQ(e.what(), c.message);
            EXPECT_EQ(e.StatusCode(), 42);
            EXPECT_EQ(e.SqlCode(), -1);
        }
    }
}

TEST_F(ServiceTest, SqlCode551IsARoleError) {
    dbl->Fail("isc_service_attach", 335544352, -551, {"no permission"});
    EXPECT_EQ(Raised<EIBInterBaseRoleError>([&] { svc->SetActive(true); }), "no permission");
    dbl->Fail("isc_service_attach", 1, 0, {"zero"});
    EXPECT_EQ(Raised<EIBInterBaseError>([&] { svc->SetActive(true); }), "zero");
    dbl->Fail("isc_service_attach", 1, 0, {"zero"});
    try {
        svc->SetActive(true);
    } catch (const EIBInterBaseRoleError&) {
        ADD_FAILURE() << "SQLCODE 0 raised a role error";
    } catch (const EIBInterBaseError&) {
    }
}

TEST_F(ServiceTest, DetachFailureStillEndsDetached) {
    svc->SetActive(true);
    dbl->Fail("isc_service_detach", 335544721, -902, {"lost"});
    EXPECT_EQ(Raised<EIBInterBaseError>([&] { svc->SetActive(false); }), "lost");
    EXPECT_FALSE(svc->Active());
}

std::vector<int> DefaultRequest(const std::string& db, const std::string& file) {
    auto len = [](const std::string& s) {
        return std::vector<int>{static_cast<int>(s.size() & 0xFF), static_cast<int>(s.size() >> 8)};
    };
    return Cat(
        {{0x01, 0x6A}, len(db), Bytes(db), {0x6C, 0, 0, 0, 0, 0x05}, len(file), Bytes(file)});
}

TEST_F(ServiceTest, BackupRequestOfTheProgram) {
    svc->SetDatabaseName("/var/lib/firebird/data/t.fdb");
    svc->BackupFile().Add("/var/bak/Day07.gbk");
    svc->OnAttach = [](TIBCustomService* s) {
        static_cast<TIBBackupService*>(s)->ServiceStart();
        s->SetActive(false);
    };
    svc->SetActive(true);
    EXPECT_FALSE(svc->Active());
    auto calls = dbl->ServiceCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].name, "isc_service_start");
    EXPECT_EQ(Bytes(calls[1].data),
              DefaultRequest("/var/lib/firebird/data/t.fdb", "/var/bak/Day07.gbk"));
    EXPECT_EQ(calls[1].handle_in, calls[2].handle_in);
    EXPECT_EQ(calls[1].reserved_not_null, 0);
    EXPECT_TRUE(svc->StartParams().empty());
    EXPECT_EQ(svc->Action(), 1);
}

TEST_F(ServiceTest, RequestItemsInOrder) {
    svc->SetActive(true);
    svc->SetDatabaseName("db");
    svc->SetVerbose(true);
    svc->SetBlockingFactor(3);
    svc->SetOptions(IgnoreChecksums | MetadataOnly | ConvertExtTables);
    for (const char* line : {"a.gbk", "   ", "", "b.gbk=2048", " c.gbk "})
        svc->BackupFile().Add(line);
    svc->ServiceStart();
    EXPECT_EQ(Bytes(dbl->ServiceCalls().at(1).data),
              (std::vector<int>{0x01, 0x6A, 2,    0, 'd', 'b',  0x6C, 0x45, 0,   0,    0,    0x6B,
                                0x06, 3,    0,    0, 0,   0x05, 5,    0,    'a', '.',  'g',  'b',
                                'k',  0x05, 5,    0, 'b', '.',  'g',  'b',  'k', 0x07, 0x00, 0x08,
                                0x00, 0x00, 0x05, 7, 0,   ' ',  'c',  '.',  'g', 'b',  'k',  ' '}));
}

TEST_F(ServiceTest, AFileNameWithEqualsSignsIsAFileNameUnlessANumberFollowsTheLastOne) {
    svc->SetActive(true);
    svc->SetDatabaseName("db");
    for (const char* line : {"/b=k/x.gbk", "a=b=12", "y=big"}) svc->BackupFile().Add(line);
    svc->ServiceStart();
    const std::string block = dbl->ServiceCalls().at(1).data;
    const std::string items = block.substr(block.find('\x6C') + 5);
    EXPECT_EQ(Bytes(items),
              (std::vector<int>{0x05, 10,  0,    '/', 'b', '=', 'k', '/', 'x',  '.', 'g',
                                'b',  'k', 0x05, 3,   0,   'a', '=', 'b', 0x07, 12,  0,
                                0,    0,   0x05, 5,   0,   'y', '=', 'b', 'i',  'g'}));
}

TEST_F(ServiceTest, EmptyFileListStillSendsAndNonPositiveFactorIsLeftOut) {
    svc->SetActive(true);
    svc->SetDatabaseName("db");
    svc->SetBlockingFactor(-5);
    svc->ServiceStart();
    EXPECT_EQ(Bytes(dbl->ServiceCalls().at(1).data),
              (std::vector<int>{0x01, 0x6A, 2, 0, 'd', 'b', 0x6C, 0, 0, 0, 0}));
}

TEST_F(ServiceTest, RequestsThatCannotBeBuiltSendNothingAndStayAttached) {
    svc->SetActive(true);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->ServiceStart(); }),
              "start Parameters missing or incorrect");
    svc->SetDatabaseName("db");
    svc->BackupFile().Add(std::string(65536, 'f'));
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->ServiceStart(); }),
              "Service request is longer than 65535 bytes and cannot be sent");
    svc->BackupFile().Clear();
    svc->BackupFile().Add(std::string(65535 - 10, 'f'));  // the item fits, the request does not
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->ServiceStart(); }),
              "Service request is longer than 65535 bytes and cannot be sent");
    EXPECT_TRUE(svc->Active());
    EXPECT_TRUE(svc->StartParams().empty());
    EXPECT_EQ(dbl->Names(), std::vector<std::string>{"isc_service_attach"});
}

TEST_F(ServiceTest, FailedStartDetachesAndKeepsTheStartsError) {
    svc->SetActive(true);
    svc->SetDatabaseName("db");
    svc->BackupFile().Add("");
    dbl->Fail(
        "isc_service_start", 336330762, -901,
        {"requires both input and output filenames", "Exiting before completion due to errors"});
    dbl->Fail("isc_service_detach", 335544721, -902, {"detach failed too"});
    EXPECT_EQ(
        Raised<EIBInterBaseError>([&] { svc->ServiceStart(); }),
        "requires both input and output filenames\r\nExiting before completion due to errors");
    EXPECT_FALSE(svc->Active());
    EXPECT_TRUE(svc->StartParams().empty());
    EXPECT_EQ(dbl->OpenHandles(), 0);  // no connection left behind by a failed run
    svc->SetActive(true);              // attaches afresh
    EXPECT_EQ(dbl->Names(), (std::vector<std::string>{"isc_service_attach", "isc_service_start",
                                                      "isc_service_detach", "isc_service_attach"}));
}

// The real client library hooks SIGINT and SIGTERM on its first attachment, to shut itself down
// on a thread of its own that races the program's ending and outlives it: the program's own
// handlers stay the ones that run.
TEST_F(ServiceTest, TheProgramsSignalHandlersOutlastTheLibrarysHooks) {
    struct sigaction program {
    }, before_int{}, before_term{}, term{}, intr{};
    program.sa_handler = [](int) {};
    sigemptyset(&program.sa_mask);
    sigaction(SIGTERM, &program, &before_term);
    sigaction(SIGINT, &program, &before_int);
    dbl->HookSignalsOnAttach();
    svc->SetActive(true);
    sigaction(SIGTERM, &before_term, &term);
    sigaction(SIGINT, &before_int, &intr);
    EXPECT_TRUE(dbl->SignalsHooked());
    EXPECT_EQ(term.sa_handler, program.sa_handler);
    EXPECT_EQ(intr.sa_handler, program.sa_handler);
}

TEST_F(ServiceTest, StartAndDetachAreBoundedLikeTheAttach) {
    svc->SetCallTimeout(200);
    svc->SetDatabaseName("db");
    svc->BackupFile().Add("f.gbk");
    svc->SetActive(true);
    dbl->Stall("isc_service_start", 700);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->ServiceStart(); }),
              "The service manager did not answer within 1 seconds");
    EXPECT_FALSE(svc->Active());
    EXPECT_EQ(dbl->OpenHandles(), 1);  // the start is still on its way...
    for (int i = 0; i < 100 && dbl->OpenHandles() > 0; ++i) Sleep(20);
    EXPECT_EQ(dbl->OpenHandles(), 0);  // ...and its attachment is closed once it answers
    svc->SetActive(true);              // a new worker serves the next call
    dbl->Stall("isc_service_detach", 700);
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(false); }),
              "The service manager did not answer within 1 seconds");
    EXPECT_FALSE(svc->Active());
    for (int i = 0; i < 100 && dbl->OpenHandles() > 0; ++i) Sleep(20);
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

TEST_F(ServiceTest, FollowerReportsTheOutcomeAndDetaches) {
    struct Seen {
        std::mutex mu;
        std::vector<TBackupOutcome> outcomes;
        size_t Count() {
            std::lock_guard lock(mu);
            return outcomes.size();
        }
    };
    auto follow = [&](Seen& seen) {
        svc->SetActive(true);
        return std::make_unique<TBackupFollower>(
            *svc,
            [&seen](const TBackupOutcome& o) {
                std::lock_guard lock(seen.mu);
                seen.outcomes.push_back(o);
            },
            10, 200);
    };
    auto wait = [](TBackupFollower& f) {
        for (int i = 0; i < 500 && !f.Finished(); ++i) Sleep(10);
        return f.Finished();
    };
    // Runs twice, ends, and one more query finds no failure.
    Seen ok;
    dbl->Running(2);
    auto f1 = follow(ok);
    EXPECT_FALSE(svc->Active());  // free for the next run at once
    ASSERT_TRUE(wait(*f1));
    ASSERT_EQ(ok.Count(), 1u);
    EXPECT_TRUE(ok.outcomes[0].succeeded);
    auto calls = dbl->ServiceCalls();
    std::vector<std::string> names;
    for (auto& c : calls) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"isc_service_attach", "isc_service_query",
                                               "isc_service_query", "isc_service_query",
                                               "isc_service_query", "isc_service_detach"}));
    EXPECT_EQ(Bytes(calls[1].data), (std::vector<int>{64, 4, 0, 1, 0, 0, 0}));  // wait at most 1 s
    EXPECT_EQ(Bytes(calls[1].spb), (std::vector<int>{67}));  // isc_info_svc_running
    EXPECT_EQ(calls[1].handle_in, calls[0].handle_in + 1001);
    EXPECT_EQ(dbl->OpenHandles(), 0);

    // A failure status is the outcome, with its text; a failed detach after it adds nothing.
    dbl->Reset();
    Seen failed;
    dbl->Running(1);
    dbl->Fail("isc_service_query", 336330817, -901,
              {"cannot open backup file /x/1.gbk", "Exiting before completion due to errors"});
    dbl->Fail("isc_service_detach", 335544721, -902, {"Error writing data to the connection."});
    auto f2 = follow(failed);
    ASSERT_TRUE(wait(*f2));
    ASSERT_EQ(failed.Count(), 1u);
    EXPECT_FALSE(failed.outcomes[0].succeeded);
    EXPECT_EQ(failed.outcomes[0].message,
              "cannot open backup file /x/1.gbk\r\nExiting before completion due to errors");

    // A server that stops answering fails the backup at the bound and the attachment is
    // closed; the abandoned query answers late, on a thread of its own, and is waited for.
    dbl->Reset();
    Seen silent;
    dbl->Stall("isc_service_query", 700);
    auto f4 = follow(silent);
    ASSERT_TRUE(wait(*f4));
    ASSERT_EQ(silent.Count(), 1u);
    EXPECT_EQ(silent.outcomes[0].message, "The service manager did not answer within 1 seconds");
    for (int i = 0; i < 100 && dbl->OpenHandles() > 0; ++i) Sleep(20);
    EXPECT_EQ(dbl->OpenHandles(), 0);
    ASSERT_TRUE(dbl->AllCallsReturned(3000));
    const auto late = dbl->Names();
    EXPECT_EQ(std::count(late.begin(), late.end(), "isc_service_query"), 1);

    // Stopped while the backup runs: no outcome, the attachment is closed.
    dbl->Reset();
    Seen stopped;
    dbl->Running(1000);
    auto f3 = follow(stopped);
    Sleep(50);
    EXPECT_TRUE(f3->Stop(1000));
    EXPECT_EQ(stopped.Count(), 0u);
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

TEST_F(ServiceTest, AttachHandlerErrorsComeOutOfTheActiveWrite) {
    svc->OnAttach = [](TIBCustomService*) { throw EIBClientError(7, "from handler"); };
    EXPECT_EQ(Raised<EIBClientError>([&] { svc->SetActive(true); }), "from handler");
    EXPECT_TRUE(svc->Active());  // the handler failed after the attach
}

TEST_F(ServiceTest, ActiveReadFromALayoutAttachesAfterLoading) {
    TComponent form;
    form.BeginLoading();
    auto* s = new TIBBackupService(&form);
    s->SetActive(true);  // only remembered while loading
    s->SetLoginPrompt(false);
    s->SetProtocol(TProtocol::Local);
    EXPECT_FALSE(s->Active());
    EXPECT_TRUE(dbl->ServiceCalls().empty());
    form.EndLoading();
    EXPECT_TRUE(s->Active());
}

TEST_F(ServiceTest, TraceReportsOnlyWithTheServiceFlag) {
    std::vector<std::string> seen;
    SetTraceSink([&](const std::string& s) { seen.push_back(s); });
    svc->SetActive(true);
    svc->SetActive(false);
    svc->SetTraceFlags(tfService);
    svc->SetActive(true);
    svc->SetDatabaseName("db");
    svc->ServiceStart();
    svc->SetActive(false);
    SetTraceSink(nullptr);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"IBBackupService1: [Attach]", "IBBackupService1: [Start]",
                                        "IBBackupService1: [Detach]"}));
}

TEST_F(ServiceTest, DestroyingAnAttachedComponentDetaches) {
    svc->SetActive(true);
    svc.reset();
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

TEST_F(ServiceTest, BufferSizeDefaultAndChange) {
    EXPECT_EQ(svc->BufferSize(), 32000);
    svc->SetBufferSize(1024);
    EXPECT_EQ(svc->BufferSize(), 1024);
}

TEST_F(ServiceTest, RestoreRequestNeedsAFileAndADatabase) {
    TIBRestoreService restore(nullptr);
    restore.SetLoginPrompt(false);
    restore.SetProtocol(TProtocol::Local);
    restore.SetActive(true);
    EXPECT_EQ(restore.Options(), CreateNewDB);
    restore.SetDatabaseName("/d/x.fdb");
    restore.BackupFile().Add("  ");
    EXPECT_EQ(Raised<EIBClientError>([&] { restore.ServiceStart(); }),
              "start Parameters missing or incorrect");
    restore.BackupFile().Add("a.gbk");
    restore.SetDatabaseName("");
    EXPECT_EQ(Raised<EIBClientError>([&] { restore.ServiceStart(); }),
              "start Parameters missing or incorrect");
    EXPECT_EQ(dbl->Names(), std::vector<std::string>{"isc_service_attach"});
}

// A restore fed from a file of this machine: "stdin" as its one file, every query asks how
// much the server takes, the next sends at most that much (and at most what fits a 65 535-byte
// send block), then an empty item for the file's end.
TEST_F(ServiceTest, RestoreFedFromALocalFile) {
    char path[] = "/tmp/qv-fed-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string bytes(70000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    TIBRestoreService restore(nullptr);
    restore.SetLoginPrompt(false);
    restore.SetProtocol(TProtocol::Local);
    restore.BackupFile().Add("/server/side.gbk");  // not sent when fed
    restore.SetDatabaseName("/d/x.fdb");
    restore.SetOptions(CreateNewDB | Replace);
    restore.SetVerbose(true);
    restore.FeedFrom(path);
    std::remove(path);  // read through the open file from now on
    restore.SetActive(true);
    restore.ServiceStart();
    dbl->Running(1);  // q1: nothing to read yet; asks for 256 KB
    dbl->Stdin(262144);
    dbl->Output("gbak:opened file stdin ");  // q2 brings 65 525 bytes; asks again
    dbl->Stdin(262144);
    dbl->Running(1);  // q3 brings the last 4 475; asks again
    dbl->Stdin(100);
    dbl->Output("gbak:finishing, closing, and going home ");  // q4 tells the end; asks nothing
    std::vector<std::string> lines;
    while (!restore.OutputEnded()) lines.push_back(restore.GetNextLine());  // q5: ended
    EXPECT_TRUE(restore.FeedEnded());
    EXPECT_EQ(lines, (std::vector<std::string>{"", "gbak:opened file stdin ", "",
                                               "gbak:finishing, closing, and going home ", ""}));
    auto calls = dbl->ServiceCalls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(Bytes(calls[1].data), Cat({{0x02, 0x05, 5, 0},
                                         Bytes("stdin"),
                                         {0x6A, 8, 0},
                                         Bytes("/d/x.fdb"),
                                         {0x6C, 0x00, 0x30, 0x00, 0x00, 0x6B}}));
    const std::vector<int> wait{64, 4, 0, 1, 0, 0, 0};
    EXPECT_EQ(Bytes(calls[2].data), wait);
    EXPECT_EQ(calls[3].data.size(), 65535u);
    EXPECT_EQ(Bytes(calls[3].data), Cat({wait, {62, 0xF5, 0xFF}, Bytes(bytes.substr(0, 65525))}));
    EXPECT_EQ(Bytes(calls[4].data), Cat({wait, {62, 0x7B, 0x11}, Bytes(bytes.substr(65525))}));
    EXPECT_EQ(Bytes(calls[5].data), Cat({wait, {62, 0, 0}}));
    EXPECT_EQ(Bytes(calls[6].data), wait);
    for (int i = 2; i <= 6; ++i)
        EXPECT_EQ(Bytes(calls[i].spb), (std::vector<int>{62, 78})) << i;  // line, stdin
}

TEST_F(ServiceTest, AFedRestoreSendsNoMoreThanAskedAndRefusesAFileItCannotRead) {
    TIBRestoreService restore(nullptr);
    restore.SetLoginPrompt(false);
    restore.SetProtocol(TProtocol::Local);
    EXPECT_EQ(Raised<EOSError>([&] { restore.FeedFrom("/nonexistent/x.gbk"); }),
              "cannot read /nonexistent/x.gbk: No such file or directory");
    EXPECT_EQ(Raised<EOSError>([&] { restore.FeedFrom("/tmp"); }),
              "cannot read /tmp: not a regular file");
    EXPECT_FALSE(restore.Fed());
    restore.FeedFrom("/proc/self/exe");  // the test program itself: readable, and long
    restore.SetDatabaseName("/d/x.fdb");
    restore.SetActive(true);
    restore.ServiceStart();
    dbl->Running(1);
    dbl->Stdin(100);
    restore.GetNextLine();
    EXPECT_TRUE(restore.FeedPending());
    restore.GetNextLine();
    EXPECT_FALSE(restore.FeedEnded());
    auto calls = dbl->ServiceCalls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].data.size(), 7u + 3u + 100u);
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A backup streamed to this machine: one file, "stdout", no verbose; raw output read to its end
// (isc_info_svc_to_eof) into "<copy>.part", renamed over the copy only when the stream ended
// with no failure. The previous copy stays whole otherwise, and no .part is left.
TEST_F(ServiceTest, StreamerRequestsAndTheCopyItLeaves) {
    char dir_template[] = "/tmp/qv-stream-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir_template));
    const std::string dir = dir_template, copy = dir + "/x.gbk", victim = dir + "/victim";
    std::ofstream(copy) << "previous copy";
    std::ofstream(victim) << "not ours";
    ASSERT_EQ(symlink(victim.c_str(), PartPath(copy).c_str()), 0);  // left by a killed run
    TStreamRequest request;
    request.server_name = "localhost";
    request.user = "SYSDBA";
    request.password = "tidewater";
    request.database = "/d/x.fdb";
    request.local_path = copy;
    request.call_timeout_ms = 500;
    auto stream = [&](const TStreamRequest& r) {
        std::mutex mu;
        std::vector<TStreamOutcome> seen;
        TBackupStreamer streamer(r, [&](const TStreamOutcome& o) {
            std::lock_guard lock(mu);
            seen.push_back(o);
        });
        for (int i = 0; i < 500 && !streamer.Finished(); ++i) Sleep(10);
        std::lock_guard lock(mu);
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? TStreamOutcome{false, "<none>"} : seen[0];
    };

    dbl->Output("abc");
    dbl->Running(1);  // the wait ran out with nothing
    dbl->Output(std::string(3000, 'd'));
    TStreamOutcome o = stream(request);  // then the end: no bytes, no flag
    EXPECT_TRUE(o.succeeded) << o.message;
    EXPECT_EQ(o.bytes, 3003);
    EXPECT_EQ(Contents(copy), "abc" + std::string(3000, 'd'));
    EXPECT_EQ(Contents(victim), "not ours");  // the link was replaced, never followed
    EXPECT_FALSE(Exists(PartPath(copy)));
    struct stat st {};
    ASSERT_EQ(stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto calls = dbl->ServiceCalls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0].name, "isc_service_attach");
    EXPECT_EQ(Bytes(calls[1].data), Cat({{0x01, 0x6A, 8, 0},
                                         Bytes("/d/x.fdb"),
                                         {0x6C, 0, 0, 0, 0, 0x05, 6, 0},
                                         Bytes("stdout")}));
    for (int i = 2; i <= 5; ++i) {
        EXPECT_EQ(Bytes(calls[i].data), (std::vector<int>{64, 4, 0, 1, 0, 0, 0})) << i;
        EXPECT_EQ(Bytes(calls[i].spb), (std::vector<int>{63})) << i;  // isc_info_svc_to_eof
    }
    EXPECT_EQ(calls[6].name, "isc_service_detach");

    // A failure status after some bytes: the server's text; the last copy stays.
    const std::string last = Contents(copy);
    dbl->Reset();
    dbl->Output("partial");
    dbl->Fail("isc_service_query", 335544344, -902,
              {"I/O error during \"open\" operation for file \"/d/x.fdb\"",
               "Error while trying to open file", "No such file or directory"});
    o = stream(request);
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.message,
              "I/O error during \"open\" operation for file \"/d/x.fdb\"\r\nError while trying to "
              "open file\r\nNo such file or directory");
    EXPECT_EQ(o.bytes, std::nullopt);
    EXPECT_EQ(Contents(copy), last);
    EXPECT_FALSE(Exists(PartPath(copy)));
    EXPECT_EQ(dbl->OpenHandles(), 0);

    // No data for no_data_ms while the server still answers: failed.
    dbl->Reset();
    dbl->Running(100000);
    TStreamRequest quiet = request;
    quiet.no_data_ms = 100;
    o = stream(quiet);
    EXPECT_EQ(o.message, "The service manager did not answer within 1 seconds");
    EXPECT_EQ(Contents(copy), last);
    EXPECT_FALSE(Exists(PartPath(copy)));

    // Stopped mid-stream: no outcome, the attachment closed, the .part removed.
    dbl->Reset();
    dbl->Output("abc");
    dbl->Running(100000);
    {
        std::atomic<int> reports{0};
        TBackupStreamer streamer(request, [&](const TStreamOutcome&) { ++reports; });
        for (int i = 0; i < 100 && !Exists(PartPath(copy)); ++i) Sleep(10);
        Sleep(50);
        EXPECT_TRUE(streamer.Stop(3000));
        EXPECT_EQ(reports, 0);
    }
    EXPECT_EQ(dbl->OpenHandles(), 0);
    EXPECT_FALSE(Exists(PartPath(copy)));
    EXPECT_EQ(Contents(copy), last);

    // A directory that cannot take the copy fails before the server is asked anything.
    dbl->Reset();
    TStreamRequest nowhere = request;
    nowhere.local_path = dir + "/missing/x.gbk";
    o = stream(nowhere);
    EXPECT_EQ(o.message, dir + "/missing: No such file or directory");
    EXPECT_TRUE(dbl->Names().empty());
    std::remove(copy.c_str());
    std::remove(victim.c_str());
    EXPECT_EQ(rmdir(dir.c_str()), 0);  // nothing else was left in it
}

TEST(LocalDir, ProblemsAreNamed) {
    EXPECT_EQ(LocalDirProblem("/tmp"), "");
    EXPECT_EQ(LocalDirProblem("copies"), "copies: not an absolute path");
    EXPECT_EQ(LocalDirProblem(""), ": not an absolute path");
    EXPECT_EQ(LocalDirProblem("/nonexistent/copies"),
              "/nonexistent/copies: No such file or directory");
    EXPECT_EQ(LocalDirProblem("/etc/hostname"), "/etc/hostname: Not a directory");
}

// One name per settings file, whatever the backup file is called: every run of one settings
// file replaces what a killed one left, and no two settings files share one.
TEST(ScratchDatabase, NamedForTheDatabaseAndTheSettingsFile) {
    TVerifyRequest r;
    r.database = "/data/sales.fdb";
    r.backup_file = "/var/bak/Day07.gbk";
    r.settings_id = "0badc0de";
    EXPECT_EQ(ScratchDatabasePath(r), "/var/bak/sales.0badc0de.verify.fdb");
    r.backup_file = "/var/bak/1005.gbk";
    EXPECT_EQ(ScratchDatabasePath(r), "/var/bak/sales.0badc0de.verify.fdb");
    r.scratch_dir = "/scratch";
    EXPECT_EQ(ScratchDatabasePath(r), "/scratch/sales.0badc0de.verify.fdb");
    r.scratch_dir = "/scratch/";
    EXPECT_EQ(ScratchDatabasePath(r), "/scratch/sales.0badc0de.verify.fdb");
    r.settings_id = "1234abcd";
    EXPECT_EQ(ScratchDatabasePath(r), "/scratch/sales.1234abcd.verify.fdb");
    r = {};
    r.database = "D:\\data\\STOCK.FDB";
    r.backup_file = "D:\\bak\\Day07.gbk";
    EXPECT_EQ(ScratchDatabasePath(r), "D:\\bak\\STOCK.verify.fdb");
    r.scratch_dir = "E:\\tmp";
    EXPECT_EQ(ScratchDatabasePath(r), "E:\\tmp\\STOCK.verify.fdb");
    r = {};
    r.database = "employee";  // an alias
    r.backup_file = "Day07.gbk";
    EXPECT_EQ(ScratchDatabasePath(r), "employee.verify.fdb");
    r.database = "";
    EXPECT_EQ(ScratchDatabasePath(r), "quorvane.verify.fdb");
}

TEST(ScratchDatabase, RestoreFinishedByTextOrByNumber) {
    EXPECT_TRUE(IsRestoreFinishedLine("gbak:finishing, closing, and going home "));
    EXPECT_TRUE(IsRestoreFinishedLine("can't format message 12:88 -- message text not found"));
    EXPECT_TRUE(IsRestoreFinishedLine("gbak:can't format message 12:88"));
    EXPECT_FALSE(IsRestoreFinishedLine("can't format message 12:880 -- message text not found"));
    EXPECT_FALSE(IsRestoreFinishedLine("can't format message 12:124 -- message text not found"));
    EXPECT_FALSE(IsRestoreFinishedLine("gbak:restoring data for table T "));
    EXPECT_FALSE(IsRestoreFinishedLine(""));
}

class VerifyTest : public ServiceTest {
protected:
    void TearDown() override {
        for (const std::string& file : made_) std::remove(file.c_str());
        ServiceTest::TearDown();
    }
    TVerifyRequest Request() {
        TVerifyRequest r;
        r.server_name = "localhost";
        r.user = "SYSDBA";
        r.password = "tidewater";
        r.database = "/var/lib/firebird/data/t.fdb";
        r.backup_file = "/var/bak/Day07.gbk";
        r.settings_id = "0badc0de";
        r.call_timeout_ms = 200;
        r.drop_wait_ms = 300;
        return r;
    }
    // A request that feeds a file of this machine holding `bytes`.
    TVerifyRequest FedRequest(const std::string& bytes) {
        char path[] = "/tmp/qv-verify-XXXXXX";
        const int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        made_.push_back(path);
        TVerifyRequest r = Request();
        r.backup_file = r.local_file = path;
        return r;
    }
    // Runs a verification to its end: the outcomes reported (one expected).
    std::vector<TVerifyOutcome> Verify(const TVerifyRequest& request) {
        std::mutex mu;
        std::vector<TVerifyOutcome> seen;
        TBackupVerifier verifier(request, [&](const TVerifyOutcome& o) {
            std::lock_guard lock(mu);
            seen.push_back(o);
        });
        for (int i = 0; i < 500 && !verifier.Finished(); ++i) Sleep(10);
        EXPECT_TRUE(verifier.Finished());
        std::lock_guard lock(mu);
        return seen;
    }
    void CompleteOutput() {
        dbl->Output("gbak:opened file /var/bak/Day07.gbk ");
        dbl->Running(1);  // a wait that brought nothing
        dbl->Output("gbak:finishing, closing, and going home ");
        dbl->Output("gbak:adjusting the ONLINE and FORCED WRITES flags ");
    }
    // A fed restore's first queries: the first asks for data, the next brings all of it and
    // is asked for more, the third sends the end; what that third query answers is scripted
    // by the caller.
    void FeedAll() {
        dbl->Running(1);
        dbl->Stdin(4096);
        dbl->Output("gbak:opened file stdin ");
        dbl->Stdin(4096);
    }
    static size_t Count(const std::vector<std::string>& names, const char* name) {
        return static_cast<size_t>(std::count(names.begin(), names.end(), name));
    }
    const std::string scratch = "/var/bak/t.0badc0de.verify.fdb";
    std::vector<std::string> made_;  // the files fed, removed at the end
};

TEST_F(VerifyTest, RestoresFollowsTheOutputToItsEndThenAttachesAndDrops) {
    CompleteOutput();
    auto seen = Verify(Request());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].succeeded);
    EXPECT_EQ(seen[0].message, "");
    auto calls = dbl->ClientCalls();
    EXPECT_EQ(
        dbl->ClientNames(),
        (std::vector<std::string>{"isc_service_attach", "isc_service_start", "isc_service_query",
                                  "isc_service_query", "isc_service_query", "isc_service_query",
                                  "isc_service_query", "isc_service_detach", "isc_attach_database",
                                  "isc_drop_database"}));
    // Restore: the file, the scratch database, create and replace, verbose; nothing else.
    EXPECT_EQ(Bytes(calls[1].data), Cat({{0x02, 0x05, 18, 0},
                                         Bytes("/var/bak/Day07.gbk"),
                                         {0x6A, 30, 0},
                                         Bytes(scratch),
                                         {0x6C, 0x00, 0x30, 0x00, 0x00, 0x6B}}));
    EXPECT_EQ(Bytes(calls[2].data), (std::vector<int>{64, 4, 0, 1, 0, 0, 0}));  // wait at most 1 s
    EXPECT_EQ(Bytes(calls[2].spb), (std::vector<int>{62}));                     // isc_info_svc_line
    EXPECT_EQ(calls[8].data, "localhost:" + scratch);
    EXPECT_EQ(Bytes(calls[8].spb),
              Cat({{0x01, 0x1C, 0x06}, Bytes("SYSDBA"), {0x1D, 0x09}, Bytes("tidewater")}));
    EXPECT_EQ(calls[9].handle_in, 1002u);  // the database attachment's own handle
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

// A file of this machine goes to the server whole, as the restore's standard input; the
// scratch database goes beside it (its directory as the server sees it).
TEST_F(VerifyTest, AFedFileIsSentWholeAndTheEndTold) {
    const std::string bytes(3000, 'b');
    const TVerifyRequest r = FedRequest(bytes);
    FeedAll();
    dbl->Output("gbak:finishing, closing, and going home ");
    auto seen = Verify(r);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].succeeded) << seen[0].message;
    auto calls = dbl->ClientCalls();
    ASSERT_EQ(calls.size(), 9u);
    const std::string fed_scratch = "/tmp/t.0badc0de.verify.fdb";
    EXPECT_EQ(Bytes(calls[1].data), Cat({{0x02, 0x05, 5, 0},
                                         Bytes("stdin"),
                                         {0x6A, 26, 0},
                                         Bytes(fed_scratch),
                                         {0x6C, 0x00, 0x30, 0x00, 0x00, 0x6B}}));
    const std::vector<int> wait{64, 4, 0, 1, 0, 0, 0};
    EXPECT_EQ(Bytes(calls[2].data), wait);
    EXPECT_EQ(Bytes(calls[3].data), Cat({wait, {62, 0xB8, 0x0B}, Bytes(bytes)}));
    EXPECT_EQ(Bytes(calls[4].data), Cat({wait, {62, 0, 0}}));  // the end of the file
    EXPECT_EQ(Bytes(calls[2].spb), (std::vector<int>{62, 78}));
    EXPECT_EQ(Bytes(calls[5].data), wait);  // the output has ended
    EXPECT_EQ(calls[7].data, "localhost:" + fed_scratch);
    EXPECT_EQ(calls[8].name, "isc_drop_database");
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

// A fed restore's query waits on the server for a line or for the restore's next request for
// data: one that brought nothing is followed by the next at once, never after poll_ms, which
// would hold back the data the restore waits for. A restore that reads its file on the server
// still waits poll_ms after such a query.
TEST_F(VerifyTest, AFedRestoreAsksAgainAtOnceAfterAWaitThatBroughtNothing) {
    const int poll_ms = 60000;
    FeedAll();
    dbl->Running(3);
    dbl->Output("gbak:finishing, closing, and going home ");
    std::atomic<int> succeeded{0};
    TBackupVerifier fed(
        FedRequest("backup bytes"), [&](const TVerifyOutcome& o) { succeeded += o.succeeded; },
        poll_ms);
    for (int i = 0; i < 500 && !fed.Finished(); ++i) Sleep(10);
    EXPECT_TRUE(fed.Finished());
    EXPECT_EQ(succeeded, 1);
    EXPECT_EQ(Count(dbl->ClientNames(), "isc_service_query"), 7u);

    CompleteOutput();
    TBackupVerifier server_side(Request(), nullptr, poll_ms);
    Sleep(300);
    EXPECT_FALSE(server_side.Finished());  // paused after the wait that brought nothing
    EXPECT_TRUE(server_side.Stop(3000));
}

TEST_F(VerifyTest, OutcomesOfTheServersAnswers) {
    const std::vector<std::string> failed_restore{"expected backup description record",
                                                  "Exiting before completion due to errors"};
    const std::vector<std::string> read_error{"Unexpected I/O error while reading from backup file",
                                              "Exiting before completion due to errors"};
    struct Case {
        const char* what;
        bool fed;
        std::function<void()> script;
        bool succeeded;
        std::string message;
        size_t drops;           // attempts to drop the scratch database afterwards
        bool at_least = false;  // or more: retried until the wait ran out
    } cases[] = {
        {"closing message by number", false,
         [&] { dbl->Output("can't format message 12:88 -- message text not found"); }, true, "", 1},
        {"a quiet end before the closing message", false,
         [&] {
             dbl->Output("gbak:restoring data for table T ");
             dbl->Fail("isc_attach_database", 335544344, -902, {"gone"});  // nothing to drop
         },
         false, kBackupIncomplete, 0},
        {"the restore's failure status", false,
         [&] { dbl->Fail("isc_service_query", 336330835, -901, failed_restore); }, false,
         "expected backup description record\r\nExiting before completion due to errors", 1},
        {"a database that cannot be attached after the end", false,
         [&] {
             CompleteOutput();
             dbl->Fail("isc_attach_database", 335544335, -902, {"database file appears corrupt"});
         },
         false, "database file appears corrupt", 0},
        {"a drop refused once while the server still holds the database", false,
         [&] {
             CompleteOutput();
             dbl->Fail("isc_drop_database", 335544510, -901,
                       {"lock time-out on wait transaction", "object is in use"});
         },
         true, "", 2},
        {"a drop refused for longer than the wait", false,
         [&] {
             CompleteOutput();
             for (int i = 0; i < 20; ++i)
                 dbl->Fail("isc_drop_database", 335544510, -901,
                           {"lock time-out on wait transaction", "object is in use"});
         },
         false, "lock time-out on wait transaction\r\nobject is in use", 2, true},
        {"a fed file that ends before the backup does", true,
         [&] {
             FeedAll();
             dbl->Fail("isc_service_query", kRestoreReadError, -901, read_error);
         },
         false, kBackupIncomplete, 1},
        {"the same status before the end was sent is the server's", true,
         [&] {
             dbl->Running(1);
             dbl->Stdin(4096);
             dbl->Fail("isc_service_query", kRestoreReadError, -901, read_error);
         },
         false,
         "Unexpected I/O error while reading from backup file\r\nExiting before completion due "
         "to errors",
         1},
        {"a fed file that is not a backup", true,
         [&] {
             dbl->Running(1);
             dbl->Stdin(4096);
             dbl->Fail("isc_service_query", 336330797, -901, failed_restore);
         },
         false, "expected backup description record\r\nExiting before completion due to errors", 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        dbl->Reset();
        c.script();
        auto seen = Verify(c.fed ? FedRequest("backup bytes") : Request());
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].succeeded, c.succeeded);
        EXPECT_EQ(seen[0].message, c.message);
        const size_t drops = Count(dbl->ClientNames(), "isc_drop_database");
        if (c.at_least)
            EXPECT_GE(drops, c.drops);
        else
            EXPECT_EQ(drops, c.drops);
        EXPECT_EQ(dbl->OpenHandles(), 0);
    }
}

// The database itself, or the backup file, is never restored over.
TEST_F(VerifyTest, TheScratchNameIsNeverTheBackupFile) {
    TVerifyRequest r = Request();
    r.backup_file = "/var/bak/./t.0badc0de.verify.fdb";
    auto seen = Verify(r);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].succeeded);
    EXPECT_EQ(seen[0].message, kScratchNameTaken);
    EXPECT_TRUE(dbl->ClientCalls().empty());  // nothing restored
}

TEST_F(VerifyTest, AFileThisProcessCannotReadIsRefusedBeforeTheServerIsAsked) {
    TVerifyRequest r = Request();
    r.local_file = "/nonexistent/Day07.gbk";
    auto seen = Verify(r);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, "cannot read /nonexistent/Day07.gbk: No such file or directory");
    EXPECT_TRUE(dbl->ClientCalls().empty());
}

// Stopped while the restore runs: no outcome; its connection is closed (which ends a fed
// restore) and the scratch database dropped, waiting while the server still keeps it shut
// (a restore that reads its file on the server goes on to its end).
TEST_F(VerifyTest, StopEndsTheRestoreAndDropsTheScratchDatabase) {
    dbl->Running(100000);
    for (int i = 0; i < 3; ++i)
        dbl->Fail("isc_attach_database", 335544528, -901,
                  {"database /var/bak/t.0badc0de.verify.fdb shutdown"});
    std::atomic<int> reports{0};
    TVerifyRequest r = Request();
    r.drop_wait_ms = 2000;
    TBackupVerifier verifier(r, [&](const TVerifyOutcome&) { ++reports; });
    Sleep(50);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(verifier.Stop(3000));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2000));
    EXPECT_EQ(reports, 0);
    EXPECT_FALSE(verifier.Outcome());
    EXPECT_EQ(dbl->OpenHandles(), 0);
    const auto names = dbl->ClientNames();
    EXPECT_EQ(Count(names, "isc_attach_database"), 4u);
    EXPECT_EQ(Count(names, "isc_drop_database"), 1u);
    EXPECT_LT(std::find(names.begin(), names.end(), "isc_service_detach"),
              std::find(names.begin(), names.end(), "isc_attach_database"));
}

// A restore the server goes on with past the wait: Stop still ends within its bound, and the
// scratch database is left to the next verification.
TEST_F(VerifyTest, StopGivesUpTheDropAfterTheWait) {
    dbl->Running(100000);
    for (int i = 0; i < 50; ++i)
        dbl->Fail("isc_attach_database", 335544528, -901,
                  {"database /var/bak/t.0badc0de.verify.fdb shutdown"});
    TBackupVerifier verifier(Request(), nullptr);
    Sleep(50);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(verifier.Stop(3000));
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_EQ(Count(dbl->ClientNames(), "isc_drop_database"), 0u);
    EXPECT_EQ(dbl->OpenHandles(), 0);
}

}  // namespace
}  // namespace qv
