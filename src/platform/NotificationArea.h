#pragma once
// The notification area ("tray"): add, modify and delete one icon described by a record, and
// the mouse messages that come back from it.
#include <cstdint>
#include <functional>
#include <string>

namespace qv {

constexpr uint32_t NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4;
constexpr uint32_t WM_LBUTTONUP = 0x202, WM_LBUTTONDBLCLK = 0x203, WM_RBUTTONUP = 0x205;
constexpr uint32_t WM_MOUSEMOVE = 0x200, WM_LBUTTONDOWN = 0x201, WM_RBUTTONDOWN = 0x204;

struct NotifyIconRecord {
    uint32_t flags = 0;
    uint32_t callback_message = 0;
    uintptr_t icon = 0;  // 0: the application's own icon
    std::string tip;     // at most TTrayIcon::kMaxTipBytes bytes
};

class INotificationArea {
public:
    virtual ~INotificationArea() = default;
    // Whether there is a notification area to put an icon in (the shell-support flag).
    virtual bool Available() const = 0;
    // Whether its host reports only single clicks (a double click arrives as clicks): the
    // D-Bus (StatusNotifier) tray, as opposed to XEmbed. Decided once, at the first tray use,
    // and the same for the life of the process.
    virtual bool SingleClicksOnly() const = 0;
    virtual bool Add(const NotifyIconRecord& record) = 0;  // false: not added
    virtual bool Modify(const NotifyIconRecord& record) = 0;
    virtual bool Delete(const NotifyIconRecord& record) = 0;
    // A message shown from the icon (a balloon, or the desktop's notification); false while
    // there is no icon to show it from.
    virtual bool ShowMessage(const std::string& title, const std::string& text) = 0;
    // Screen position of the mouse cursor.
    virtual void CursorPos(int* x, int* y) const = 0;
    // Mouse messages on the icon (WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, ...).
    std::function<void(uint32_t mouse_message)> OnMouse;
};

// Creates the Qt notification area (QSystemTrayIcon).
INotificationArea* NewQtNotificationArea();

}  // namespace qv
