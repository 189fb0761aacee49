#pragma once
// A main window in a temporary program directory with a fake clock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <memory>
#include <sstream>
#include <vector>

#include "FakeClock.h"
#include "FakeShellLauncher.h"
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
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::string text = ReadFile(dir / "PROC_LOG.TXT");
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                lines.push_back("<unterminated>" + text.substr(at));
                break;
            }
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    // The messages of the log, without their date and time.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> out;
        for (const std::string& l : LogLines()) out.push_back(l.size() > 16 ? l.substr(16) : l);
        return out;
    }
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
