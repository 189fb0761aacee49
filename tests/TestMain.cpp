// Test entry for every test program: offscreen Qt (also when CTest lists the tests at build
// time) and the fake application object installed.
#include <gtest/gtest.h>

#include <QApplication>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "FakeApplication.h"
#include "firebird/IBIntf.h"
#include "FakeInterProcess.h"
#include "FakeNotificationArea.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    qv::FakeApplication fake;
    qv::SetApplication(&fake);
    qv::FakeInterProcess inter_process;  // no other copy, unless a test installs its own
    qv::SetInterProcess(&inter_process);
    qv::FakeNotificationArea tray;
    qv::SetNotificationArea(&tray);
    const int rc = RUN_ALL_TESTS();
    if (qv::ClientCallsPending()) {  // see the program's own exit
        std::fflush(nullptr);
        _exit(rc);
    }
    return rc;
}
