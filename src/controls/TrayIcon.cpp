#include "controls/TrayIcon.h"

#include "platform/Application.h"
#include "platform/Platform.h"
#include "platform/Strings.h"

namespace qv {

TTrayIcon::TTrayIcon(TComponent* owner) : TComponent(owner) {
    IApplication& app = Application();
    INotificationArea& area = NotificationArea();
    // Whether there is a notification area is asked when the icon is first wanted, not here:
    // on a desktop the question goes to the session bus, which would hold up the window.
    shell_support_ = true;
    record_.flags = NIF_MESSAGE | NIF_ICON;
    record_.callback_message = kCallbackMessage;
    record_.icon = icon_;  // the application's own icon
    SetTip(app.Title());
    area.OnMouse = [this](uint32_t mouse) { WindowProc(kCallbackMessage, mouse); };
    app.OnMinimize = [this] { AppMinimize(); };
    app.OnRestore = [this] { AppRestore(); };
    minimized_ = app.IsMinimized();
}

TTrayIcon::~TTrayIcon() {
    if (active_) RemoveIcon();
    // The application's events and the mouse callback are handed back.
    IApplication& app = Application();
    app.OnMinimize = nullptr;
    app.OnRestore = nullptr;
    NotificationArea().OnMouse = nullptr;
}

void TTrayIcon::SetTip(const std::string& text) {
    // At most 63 bytes, cut on a character boundary (the text is UTF-8 here).
    record_.tip = CutUtf8(text, kMaxTipBytes);
    if (text.empty())
        record_.flags &= ~NIF_TIP;
    else
        record_.flags |= NIF_TIP;
}

void TTrayIcon::AddIcon() {
    if (!active_ || shown_) return;
    shell_support_ = NotificationArea().Available();  // a host may have started since
    if (!shell_support_) return;
    if (!NotificationArea().Add(record_))
        throw EOutOfResources("Cannot create shell notification icon");
    shown_ = true;
}

void TTrayIcon::RemoveIcon() {
    if (shell_support_) NotificationArea().Delete(record_);
    shown_ = false;
}

void TTrayIcon::UpdateIcon() {
    if (active_ && shell_support_) NotificationArea().Modify(record_);
}

void TTrayIcon::SetActive(bool value) {
    active_ = value;
    // Shown exactly while minimised, or all the time with a separate icon (also when both).
    if (active_ && (separate_ || minimized_))
        AddIcon();
    else
        RemoveIcon();
}

void TTrayIcon::SetSeparateIcon(bool value) {
    separate_ = value;
    if (separate_ && active_)
        AddIcon();
    else if (!separate_ && active_ && !Application().IsMinimized())
        RemoveIcon();
}

void TTrayIcon::SetHint(const std::string& value) {
    if (value == hint_) return;
    hint_ = value;
    SetTip(value);
    UpdateIcon();
}

void TTrayIcon::SetIcon(uintptr_t value) {
    if (value == icon_) return;
    icon_ = value;
    record_.icon = value;
    UpdateIcon();
}

void TTrayIcon::AppMinimize() {
    if (active_) {
        // The taskbar button goes only once the icon stands for it: without a notification
        // area, or when the icon cannot be added, the window stays reachable from the taskbar.
        AddIcon();
        if (shown_) Application().SetTaskbarButtonVisible(false);
    }
    minimized_ = true;
    if (OnMinimize) OnMinimize(&Application());
}

void TTrayIcon::AppRestore() {
    if (active_) {
        Application().SetTaskbarButtonVisible(true);
        if (!separate_) RemoveIcon();
    }
    if (OnRestore) OnRestore(&Application());
    minimized_ = false;
}

void TTrayIcon::WindowProc(uint32_t message, uint32_t mouse) {
    if (message != kCallbackMessage) return;
    switch (mouse) {
        case WM_LBUTTONUP:
            if (OnClick) OnClick(this);
            break;
        case WM_LBUTTONDBLCLK:
            if (OnDblClick) OnDblClick(this);
            break;
        case WM_RBUTTONUP: {
            int x = 0, y = 0;
            if (PopupMenu && (!Application().TaskbarButtonVisible() || separate_)) {
                NotificationArea().CursorPos(&x, &y);
                PopupMenu(x, y);
            }
            if (OnRightClick) {
                NotificationArea().CursorPos(&x, &y);
                OnRightClick(this, TMouseButton::mbRight, 0, x, y);
            }
            break;
        }
        default:
            break;
    }
}

bool TTrayIcon::ShowMessage(const std::string& title, const std::string& text) {
    return shown_ && NotificationArea().ShowMessage(title, text);
}

}  // namespace qv
