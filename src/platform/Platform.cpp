#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/DesktopNotifications.h"
#include "platform/FileRegistry.h"
#include "platform/InterProcess.h"
#include "platform/ProfileFile.h"
#include "platform/ShellLauncher.h"

namespace qv {

namespace {
IApplication* g_app = nullptr;
IClock* g_clock = nullptr;
IProfileFiles* g_profile = nullptr;
IRegistry* g_registry = nullptr;
IShellLauncher* g_launcher = nullptr;
IInterProcess* g_ipc = nullptr;
INotificationArea* g_tray = nullptr;
IDesktopNotifications* g_notifications = nullptr;

class NoDesktopNotifications : public IDesktopNotifications {
public:
    bool Notify(const std::string&, const std::string&) override { return false; }
};
}  // namespace

IApplication& Application() {
    if (!g_app) {
        std::fputs("Quorvane: no application object installed\n", stderr);
        std::abort();
    }
    return *g_app;
}

bool HasApplication() {
    return g_app != nullptr;
}

IClock& Clock() {
    static SystemClock system_clock;
    return g_clock ? *g_clock : system_clock;
}

IProfileFiles& ProfileFiles() {
    static ProfileFile files;
    return g_profile ? *g_profile : files;
}

IRegistry& Registry() {
    static FileRegistry registry;
    return g_registry ? *g_registry : registry;
}

IShellLauncher& ShellLauncher() {
    static XdgShellLauncher launcher;
    return g_launcher ? *g_launcher : launcher;
}

IInterProcess& InterProcess() {
    if (!g_ipc) {
        std::fputs("Quorvane: no inter-process layer installed\n", stderr);
        std::abort();
    }
    return *g_ipc;
}

INotificationArea& NotificationArea() {
    if (!g_tray) {
        std::fputs("Quorvane: no notification-area layer installed\n", stderr);
        std::abort();
    }
    return *g_tray;
}

IDesktopNotifications& DesktopNotifications() {
    static NoDesktopNotifications none;
    return g_notifications ? *g_notifications : none;
}

void SetDesktopNotifications(IDesktopNotifications* notifications) {
    g_notifications = notifications;
}

void SetNotificationArea(INotificationArea* area) {
    g_tray = area;
}
void SetRegistry(IRegistry* registry) {
    g_registry = registry;
}
void SetShellLauncher(IShellLauncher* launcher) {
    g_launcher = launcher;
}
void SetInterProcess(IInterProcess* ipc) {
    g_ipc = ipc;
}

void SetApplication(IApplication* app) {
    g_app = app;
}
void SetClock(IClock* clock) {
    g_clock = clock;
}
void SetProfileFiles(IProfileFiles* files) {
    g_profile = files;
}

}  // namespace qv
