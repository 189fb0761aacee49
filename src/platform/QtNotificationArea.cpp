#include <QCursor>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <memory>

#include "NotificationArea.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define QV_HAVE_XCB 1
#endif

namespace qv {

namespace {

// An XEmbed tray (the _NET_SYSTEM_TRAY_S0 selection has an owner) reports double clicks;
// a StatusNotifier host reports single clicks only.
bool XEmbedTrayPresent() {
#ifdef QV_HAVE_XCB
    if (QGuiApplication::platformName() != "xcb") return false;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return false;
    xcb_connection_t* c = x11->connection();
    const char name[] = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
    if (!atom) return false;
    bool present = false;
    if (atom->atom != XCB_ATOM_NONE) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        present = owner && owner->owner != XCB_WINDOW_NONE;
        free(owner);
    }
    free(atom);
    return present;
#else
    return false;
#endif
}

class QtNotificationArea : public INotificationArea {
public:
    bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    bool SingleClicksOnly() const override { return !XEmbedTrayPresent(); }

    bool Add(const NotifyIconRecord& r) override {
        if (!Available()) return false;
        icon_ = std::make_unique<QSystemTrayIcon>();
        icon_->setIcon(qApp->windowIcon().isNull() ? QIcon::fromTheme("drive-harddisk")
                                                   : qApp->windowIcon());
        Apply(r);
        QObject::connect(icon_.get(), &QSystemTrayIcon::activated,
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
        icon_->hide();
        icon_.reset();
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
    std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace

INotificationArea* NewQtNotificationArea() {
    return new QtNotificationArea;
}

}  // namespace qv
