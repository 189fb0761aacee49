#pragma once
// The desktop's notification service: a short message that pops up and goes away by itself,
// for what the user should hear of without a dialog waiting for an answer.
#include <string>

namespace qv {

class IDesktopNotifications {
public:
    virtual ~IDesktopNotifications() = default;
    // Shows the message; false when it cannot be sent (no session bus). A service the bus
    // starts on demand is started by the message.
    virtual bool Notify(const std::string& title, const std::string& text) = 0;
};

// The freedesktop.org notification service on the session bus (org.freedesktop.Notifications).
IDesktopNotifications* NewDBusDesktopNotifications();

}  // namespace qv
