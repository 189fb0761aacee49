#include "Platform.h"

#include <cstdio>
#include <cstdlib>

#include "Clock.h"
#include "ProfileFile.h"

namespace qv {

namespace {
IApplication* g_app = nullptr;
IClock* g_clock = nullptr;
IProfileFiles* g_profile = nullptr;
}  // namespace

IApplication& Application() {
    if (!g_app) {
        std::fputs("Quorvane: no application object installed\n", stderr);
        std::abort();
    }
    return *g_app;
}

IClock& Clock() {
    static SystemClock system_clock;
    return g_clock ? *g_clock : system_clock;
}

IProfileFiles& ProfileFiles() {
    static ProfileFile files;
    return g_profile ? *g_profile : files;
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
