#pragma once
// Where the components find the platform's stand-in layers. main() installs the Linux ones;
// tests install fakes. Nothing outside platform/ reaches the system for these jobs directly.
namespace qv {

class IApplication;
class IClock;
class IProfileFiles;
class IRegistry;
class IShellLauncher;
class IInterProcess;
class INotificationArea;
class IDesktopNotifications;

IApplication& Application();
// Whether a program with a window installed its application object (the service has none).
bool HasApplication();
IClock& Clock();
IProfileFiles& ProfileFiles();
IRegistry& Registry();
IShellLauncher& ShellLauncher();
IInterProcess& InterProcess();
INotificationArea& NotificationArea();
// Without one installed, nothing is shown (Notify answers false).
IDesktopNotifications& DesktopNotifications();

void SetApplication(IApplication* app);
void SetClock(IClock* clock);
void SetProfileFiles(IProfileFiles* files);
void SetRegistry(IRegistry* registry);
void SetShellLauncher(IShellLauncher* launcher);
void SetInterProcess(IInterProcess* ipc);
void SetNotificationArea(INotificationArea* area);
void SetDesktopNotifications(IDesktopNotifications* notifications);

}  // namespace qv
