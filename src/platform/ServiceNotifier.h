#pragma once
// What the system's service manager is told about a service: that it is ready, a one-line
// status, that it is stopping, and that it is still alive (the watchdog).
#include <cstdint>
#include <string>

namespace qv {

class IServiceNotifier {
public:
    virtual ~IServiceNotifier() = default;
    // One notification of KEY=VALUE lines ("READY=1", "STATUS=...").
    virtual void Notify(const std::string& state) = 0;
    // How often the manager wants to hear "WATCHDOG=1", in microseconds; 0 when it does not.
    virtual uint64_t WatchdogUsec() const = 0;
};

// systemd's notification socket ($NOTIFY_SOCKET, $WATCHDOG_USEC) through sd_notify; nothing is
// sent when the service was not started by systemd.
class SdServiceNotifier : public IServiceNotifier {
public:
    void Notify(const std::string& state) override;
    uint64_t WatchdogUsec() const override;
};

}  // namespace qv
