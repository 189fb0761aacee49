#pragma once
// The schedule as the engine keeps it for both programs, seen as the service sees it: no window,
// the client-library double (found through the library search path), a fake clock. The fixture
// stands in for a program's view: it gives the settings and whether the schedule is armed, and
// hears every line and change of the state.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FakeClock.h"
#include "FbDouble.h"
#include "TestSupport.h"
#include "engine/LogFile.h"
#include "engine/ScheduleKeeper.h"

namespace qv::test {

using Msgs = std::vector<std::string>;
using Heard = std::vector<std::pair<std::string, TLinePriority>>;

// The backup file named by the last start request ("<none>" without one).
inline std::string RequestedFile(const FbDouble& dbl) {
    std::string last_start;
    for (auto& c : dbl.ServiceCalls())
        if (c.name == "isc_service_start") last_start = c.data;
    const size_t at = last_start.rfind('\x05');
    if (at == std::string::npos || at + 3 > last_start.size()) return "<none>";
    const size_t len = static_cast<unsigned char>(last_start[at + 1]) |
                       static_cast<unsigned char>(last_start[at + 2]) << 8;
    return last_start.substr(at + 3, len);
}

// A connection left open (as after a run inside a connection test), whose close fails.
inline void LeaveAConnectionThatWillNotClose(TIBBackupService& service, FbDouble& dbl) {
    auto handler = service.OnAttach;
    service.OnAttach = nullptr;
    service.SetServerName("dbhost");
    service.SetActive(true);
    service.OnAttach = handler;
    dbl.Fail("isc_service_detach", 335544721, -902, {"gone"});
}

class KeeperFixture : public ::testing::Test {
protected:
    void SetUp() override {
        clock.Set(2026, 12, 7, 10, 4, 57, 0);
        SetClock(&clock);
        NewKeeper();
        dbl = std::make_unique<FbDouble>("libfbclient.so.2");
        ASSERT_TRUE(dbl->ok()) << "the engine did not load the double";
        dbl->Reset();
        settings.server_name = "dbhost";
        settings.database_name = "/data/x.fdb";
        settings.backup_dir = "/var/bak";
        settings.password = "pw";
    }
    void TearDown() override {
        keeper.reset();
        service.reset();
        dbl.reset();
        SetClock(nullptr);
    }
    // A keeper on a component of its own (which loads the client library), as a program has
    // each time it starts.
    void NewKeeper() {
        keeper.reset();
        service = std::make_unique<TIBBackupService>(nullptr);
        service->SetProtocol(TProtocol::TCP);  // as both programs set it
        service->SetLoginPrompt(false);
        keeper = std::make_unique<TScheduleKeeper>(*service);
        keeper->SetDirectory(dir.path() + "/");
        keeper->Settings = [this] { return settings; };
        keeper->Armed = [this] { return armed; };
        keeper->OnLine = [this](const std::string& m, TLinePriority p) { heard.push_back({m, p}); };
        keeper->OnStateChanged = [this] { ++state_changes; };
        keeper->Runner().follow_poll_ms = 10;
    }
    // Due minutes name their run (its TickTime) here instead of running it.
    void CountRuns() {
        keeper->OnDue = [this] { runs.push_back(keeper->TickTime()); };
    }
    // As both programs start: the first line, then the schedule (a gap is made up once).
    void StartUp() {
        keeper->Log("程式執行");
        keeper->Start();
    }
    // As the window's 啟動 and 停止 (and a changed setting) do.
    void Arm() {
        armed = true;
        keeper->Arm();
        keeper->Log("系統啟動");
    }
    void Stop() {
        armed = false;
        keeper->Disarm();
        keeper->Log("系統停止");
    }
    // A tick at that minute of the day (half a second in), its run followed to its end.
    void TickAt(int h, int mi) {
        clock.Set(2026, 12, 7, h, mi, 0, 500);
        keeper->Tick();
        Settle();
    }
    // A tick on any day, the schedule having checked every minute before it (the clock's jump
    // is no gap).
    void TickOn(int y, int mo, int d, int h, int mi) {
        clock.Set(y, mo, d, h, mi, 0, 500);
        const int64_t before = clock.Read().utc_ms - 60000;
        keeper->Record().Tick(settings.Schedule(), {LocalTimeAt(before), before});
        keeper->Tick();
        Settle();
    }
    // Lets a followed backup end and its outcome arrive (bounded).
    void Settle() {
        for (int waited = 0; keeper->Busy() && waited < 5000; waited += 5) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(5);
        }
    }
    Msgs LogMessages() const { return test::LogMessages(dir / "PROC_LOG.TXT"); }

    TempDir dir;
    FakeClock clock;
    std::unique_ptr<FbDouble> dbl;
    std::unique_ptr<TIBBackupService> service;
    std::unique_ptr<TScheduleKeeper> keeper;
    TBackupSettings settings;
    bool armed = true;
    Heard heard;
    int state_changes = 0;
    Msgs runs;  // the TickTime of every counted run
};

}  // namespace qv::test
