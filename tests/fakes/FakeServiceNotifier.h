#pragma once
// Records what the service would tell the service manager.
#include <string>
#include <vector>

#include "platform/ServiceNotifier.h"

namespace qv {

class FakeServiceNotifier : public IServiceNotifier {
public:
    std::vector<std::string> sent;
    uint64_t watchdog_usec = 0;
    void Notify(const std::string& state) override { sent.push_back(state); }
    uint64_t WatchdogUsec() const override { return watchdog_usec; }
};

}  // namespace qv
