// Quorvane: unattended, scheduled backups of one Firebird/InterBase database.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <memory>

#include "InterProcess.h"
#include "NotificationArea.h"
#include "Platform.h"
#include "QtApplication.h"
#include "Quorv.h"

namespace {

// The window could not be created (the client library is missing): say so before ending,
// on stderr and, when there is a screen to show it on, in a message box.
int ReportStartFailure(qv::QtApplication& application, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", application.Title().c_str(), message.c_str());
    const QString platform = QGuiApplication::platformName();
    if (platform != "offscreen" && platform != "minimal") application.MessageBox(message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qv::QtApplication application;
    qv::SetApplication(&application);
    qv::LinuxInterProcess inter_process;
    qv::SetInterProcess(&inter_process);
    std::unique_ptr<qv::INotificationArea> tray(qv::NewQtNotificationArea());
    qv::SetNotificationArea(tray.get());
    qv::InstallFontSubstitutes();

    std::unique_ptr<qv::TQuorvaneForm> form;
    try {
        form = std::make_unique<qv::TQuorvaneForm>();
    } catch (const std::exception& e) {
        return ReportStartFailure(application, e.what());
    }
    application.SetMainWindow(form.get());
    application.CloseOnTerminationSignals();
    if (application.ShowMainForm) form->show();
    return QApplication::exec();
}
