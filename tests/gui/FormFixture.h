#pragma once
// A main window in a temporary program directory with a fake clock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <memory>
#include <vector>

#include "FakeClock.h"
#include "FakeShellLauncher.h"
#include "engine/LogFile.h"
#include "platform/FileRegistry.h"
#include "gui/Quorv.h"
#include "TestSupport.h"

namespace qv::test {

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        FakeApp().exe = dir / "Quorvane";
        FakeApp().messages.clear();
        FakeApp().exceptions.clear();
        FakeApp().minimize_calls = 0;
        FakeApp().minimized = false;
        FakeApp().taskbar_button = true;
        clock.Set(2026, 12, 7, 14, 30, 5, 0);
        SetClock(&clock);
        registry = std::make_unique<FileRegistry>(config / "user", config / "system");
        SetRegistry(registry.get());
        SetShellLauncher(&launcher);
    }
    void TearDown() override {
        form.reset();
        SetClock(nullptr);
        SetRegistry(nullptr);
        SetShellLauncher(nullptr);
    }
    // Creates the window (and runs its start-up sequence unless told not to).
    TQuorvaneForm& Start(bool show = true) {
        form = std::make_unique<TQuorvaneForm>();
        form->follow_poll_ms = 10;
        if (show) form->FormShow();
        return *form;
    }
    // The schedule has checked every minute before the clock's: a jump of the test's clock is
    // then no gap with missed minutes to make up.
    void NoGapBefore() {
        const int64_t before = clock.Read().utc_ms - 60000;
        form->ScheduleRecord().Tick(form->CurrentSettings().Schedule(),
                                    {LocalTimeAt(before), before});
    }
    // Lets a followed backup end and its outcome reach the window (bounded).
    void SettleBackups(int max_ms = 5000) {
        for (int waited = 0; form->FollowingBackup() && waited < max_ms; waited += 5) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(5);
        }
    }
    std::vector<std::string> LogLines() const { return test::LogLines(dir / "PROC_LOG.TXT"); }
    std::vector<std::string> LogMessages() const { return test::LogMessages(dir / "PROC_LOG.TXT"); }
    std::string Ini() const { return ReadFile(dir / "Quorvane.ini"); }
    void WriteIni(const std::string& body) { WriteFile(dir / "Quorvane.ini", "[Para]\r\n" + body); }
    void SelectUser(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    TempDir dir;
    TempDir config;  // the XDG configuration directories of the registry
    std::unique_ptr<FileRegistry> registry;
    FakeShellLauncher launcher;
    FakeClock clock;
    std::unique_ptr<TQuorvaneForm> form;
};

}  // namespace qv::test
