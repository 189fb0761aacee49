#include <systemd/sd-daemon.h>

#include "platform/ServiceNotifier.h"

namespace qv {

void SdServiceNotifier::Notify(const std::string& state) {
    sd_notify(0, state.c_str());
}

uint64_t SdServiceNotifier::WatchdogUsec() const {
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

}  // namespace qv
