#include <QCursor>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QPointer>
#include <QSystemTrayIcon>
#include <optional>
#include <vector>

#include "platform/NotificationArea.h"

namespace qv {

namespace {

// Whether a StatusNotifier watcher with a registered host is on the session bus, asked the way
// the toolkit asks it: the property is read through introspection, so a watcher that does not
// list it counts as none for both of us.
bool StatusNotifierHostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                           "org.kde.StatusNotifierWatcher", bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

class QtNotificationArea : public INotificationArea {
public:
    ~QtNotificationArea() override {
        delete icon_;
        for (const QPointer<QSystemTrayIcon>& old : retired_) delete old.data();
    }

    bool Available() const override {
        Decide();
        return QSystemTrayIcon::isSystemTrayAvailable();  // the first time, the toolkit's choice
    }
    bool SingleClicksOnly() const override {
        if (!dbus_tray_) Available();
        return *dbus_tray_;
    }

    bool Add(const NotifyIconRecord& r) override {
        if (!Available()) return false;
        icon_ = new QSystemTrayIcon;
        icon_->setIcon(qApp->windowIcon().isNull() ? QIcon::fromTheme("drive-harddisk")
                                                   : qApp->windowIcon());
        Apply(r);
        QObject::connect(icon_, &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason why) { Activated(why); });
        icon_->show();
        return true;
    }
    bool Modify(const NotifyIconRecord& r) override {
        if (!icon_) return false;
        Apply(r);
        return true;
    }
    bool Delete(const NotifyIconRecord&) override {
        if (!icon_) return false;
        // The delete may come from the icon's own click (a restore): hide it now, free it
        // once its signal has returned.
        icon_->hide();
        QObject::disconnect(icon_, nullptr, nullptr, nullptr);
        icon_->deleteLater();
        std::erase_if(retired_, [](const QPointer<QSystemTrayIcon>& p) { return p.isNull(); });
        retired_.emplace_back(icon_);
        icon_ = nullptr;
        return true;
    }
    bool ShowMessage(const std::string& title, const std::string& text) override {
        if (!icon_ || !icon_->isVisible()) return false;
        icon_->showMessage(QString::fromStdString(title), QString::fromStdString(text));
        return true;
    }
    void CursorPos(int* x, int* y) const override {
        QPoint p = QCursor::pos();
        *x = p.x();
        *y = p.y();
    }

private:
    // The toolkit picks its tray once per process, at the first tray use: the D-Bus
    // (StatusNotifier) one when a watcher with a host is registered, else XEmbed, and keeps it.
    // Asked here right before that same first use (Available) and kept, the answer cannot
    // disagree with the toolkit's, whatever starts or stops on the bus later. The offscreen and
    // minimal platforms use no tray at all. Each question is a round trip to the session bus:
    // nothing asks before the icon is first wanted.
    void Decide() const {
        if (dbus_tray_) return;
        const QString platform = QGuiApplication::platformName();
        dbus_tray_ =
            platform != "offscreen" && platform != "minimal" && StatusNotifierHostRegistered();
    }
    void Apply(const NotifyIconRecord& r) {
        icon_->setToolTip(r.flags & NIF_TIP ? QString::fromStdString(r.tip) : QString());
    }
    void Activated(QSystemTrayIcon::ActivationReason why) {
        if (!OnMouse) return;
        switch (why) {
            case QSystemTrayIcon::Trigger:
                OnMouse(WM_LBUTTONUP);
                break;
            case QSystemTrayIcon::DoubleClick:  // the second press and its release
                OnMouse(WM_LBUTTONDBLCLK);
                OnMouse(WM_LBUTTONUP);
                break;
            case QSystemTrayIcon::Context:
                OnMouse(WM_RBUTTONUP);
                break;
            default:
                break;
        }
    }

    mutable std::optional<bool> dbus_tray_;
    QSystemTrayIcon* icon_ = nullptr;
    std::vector<QPointer<QSystemTrayIcon>> retired_;
};

}  // namespace

INotificationArea* NewQtNotificationArea() {
    return new QtNotificationArea;
}

}  // namespace qv
