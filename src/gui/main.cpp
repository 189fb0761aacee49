// Quorvane: unattended, scheduled backups of one Firebird/InterBase database.
#include <QApplication>
#include <QMessageBox>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>
#include <memory>

#include "platform/DesktopNotifications.h"
#include "firebird/IBIntf.h"
#include "platform/InterProcess.h"
#include "platform/NotificationArea.h"
#include "platform/Platform.h"
#include "platform/desktop/QtApplication.h"
#include "gui/Quorv.h"

namespace {

// The program's icon (taskbar and notification area): the letter Q on blue, drawn once at each
// size and kept as pictures in the program, so that starting needs no font for it and draws
// nothing: a size is read only when something shows it.
QIcon QuorvaneIcon() {
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64})
        icon.addFile(QString(":/icons/quorvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

// The window could not be created (the client library is missing): say so before ending,
// on stderr and, when there is a screen to show it on, in a message box.
int ReportStartFailure(qv::QtApplication& application, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", application.Title().c_str(), message.c_str());
    const QString platform = QGuiApplication::platformName();
    if (platform != "offscreen" && platform != "minimal") application.MessageBox(message);
    return 1;
}

// Wherever X is offered (an X session, or Xwayland in a Wayland session) the program runs as
// an X client: a native Wayland window cannot place itself in the centre, come to the front
// when a second copy asks, or tell that it was minimised, so its minimise to the notification
// area would not hold. Wayland stays the fallback when X does not answer; an explicit
// QT_QPA_PLATFORM or -platform is left alone.
std::vector<char*> ArgumentsWithPlatform(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    bool on_command_line = false;
    for (int i = 1; i < argc; ++i)
        on_command_line = on_command_line || std::string_view(argv[i]) == "-platform";
    if ((!platform || !*platform) && !on_command_line && display && *display) {
        static char option[] = "-platform", x_first[] = "xcb;wayland";
        args.insert(args.begin() + 1, {option, x_first});
    }
    args.push_back(nullptr);
    return args;
}

// Showing a native Wayland window starts EGL, which loads Mesa's driver (swrast_dri.so); on AMD
// Zen processors the driver keeps a table of the L3 caches that it never frees, only a global of
// its own points to it. Qt unloads the driver as the QApplication ends, and the leak check at exit
// then finds that table lost in an unknown module. Declared after the QApplication, this keeps
// every loaded graphics driver in memory until the process ends.
class GraphicsDriversKeptLoaded {
public:
    ~GraphicsDriversKeptLoaded() {
        std::vector<std::string> drivers;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* found) {
                if (std::string_view(info->dlpi_name).ends_with("_dri.so"))
                    static_cast<std::vector<std::string>*>(found)->push_back(info->dlpi_name);
                return 0;
            },
            &drivers);
        for (const std::string& driver : drivers)
            dlopen(driver.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = ArgumentsWithPlatform(argc, argv);
    int arg_count = static_cast<int>(args.size()) - 1;
    QApplication app(arg_count, args.data());
    GraphicsDriversKeptLoaded graphics_drivers;
    app.setWindowIcon(QuorvaneIcon());
    qv::QtApplication application;
    qv::SetApplication(&application);
    qv::LinuxInterProcess inter_process;
    qv::SetInterProcess(&inter_process);
    std::unique_ptr<qv::INotificationArea> tray(qv::NewQtNotificationArea());
    qv::SetNotificationArea(tray.get());
    std::unique_ptr<qv::IDesktopNotifications> notifications(qv::NewDBusDesktopNotifications());
    qv::SetDesktopNotifications(notifications.get());
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
    const int rc = QApplication::exec();
    form.reset();  // the window has closed: settings saved, "系統結束" logged
    return qv::LeaveProcess(rc);
}
