#pragma once
// Where the components find the platform's stand-in layers. main() installs the Linux ones;
// tests install fakes. Nothing outside platform/ reaches the system for these jobs directly.
namespace qv {

class IApplication;
class IClock;
class IProfileFiles;

IApplication& Application();
IClock& Clock();
IProfileFiles& ProfileFiles();

void SetApplication(IApplication* app);
void SetClock(IClock* clock);
void SetProfileFiles(IProfileFiles* files);

}  // namespace qv
