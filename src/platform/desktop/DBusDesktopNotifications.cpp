#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "platform/DesktopNotifications.h"

namespace qv {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr int kExpireMs = 10000;

class DBusDesktopNotifications : public IDesktopNotifications {
public:
    bool Notify(const std::string& title, const std::string& text) override {
        // Not asked whether the service runs: many are started by the bus on the first call
        // (xfce4-notifyd, dunst, mate), and this call is what starts them.
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return false;
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, "/org/freedesktop/Notifications", kService, "Notify");
        call << QString("Quorvane") << 0u << QString("quorvane") << QString::fromUtf8(title.c_str())
             << QString::fromUtf8(text.c_str()) << QStringList() << QVariantMap() << kExpireMs;
        // Sent without waiting for the answer: a timer tick never waits on the desktop.
        return bus.send(call);
    }
};

}  // namespace

IDesktopNotifications* NewDBusDesktopNotifications() {
    return new DBusDesktopNotifications;
}

}  // namespace qv
