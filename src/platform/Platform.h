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

IApplication& Application();
IClock& Clock();
IProfileFiles& ProfileFiles();
IRegistry& Registry();
IShellLauncher& ShellLauncher();
IInterProcess& InterProcess();
INotificationArea& NotificationArea();

void SetApplication(IApplication* app);
void SetClock(IClock* clock);
void SetProfileFiles(IProfileFiles* files);
void SetRegistry(IRegistry* registry);
void SetShellLauncher(IShellLauncher* launcher);
void SetInterProcess(IInterProcess* ipc);
void SetNotificationArea(INotificationArea* area);

}  // namespace qv
