#pragma once
// TTrayIcon: an icon with a tool-tip in the notification area, tied to the application's
// minimise and restore, with its mouse actions turned into events.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/NotificationArea.h"

namespace qv {

class IApplication;

// "Cannot create shell notification icon"
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TTrayIcon : public TComponent {
public:
    static constexpr uint32_t kCallbackMessage = 1025;  // WM_USER + 1
    // Room for the name and the state lines (last and next backup); desktop trays show more
    // than the 63 bytes of the oldest notification areas.
    static constexpr size_t kMaxTipBytes = 511;

    using TNotifyEvent = std::function<void(TComponent* sender)>;
    // Minimise and restore come from the application: it is their Sender.
    using TAppNotifyEvent = std::function<void(IApplication* sender)>;
    using TMouseEvent =
        std::function<void(TComponent* sender, TMouseButton button, int shift, int x, int y)>;

    explicit TTrayIcon(TComponent* owner);
    ~TTrayIcon() override;

    bool Active() const { return active_; }
    void SetActive(bool value);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);
    uintptr_t Icon() const { return icon_; }
    void SetIcon(uintptr_t value);
    bool SeparateIcon() const { return separate_; }
    void SetSeparateIcon(bool value);
    // The pop-up menu: shown at a screen position.
    std::function<void(int x, int y)> PopupMenu;

    TNotifyEvent OnClick, OnDblClick;
    TAppNotifyEvent OnMinimize, OnRestore;
    TMouseEvent OnRightClick;

    const NotifyIconRecord& Record() const { return record_; }
    bool Shown() const { return shown_; }
    // A message shown from the icon while it is shown; false otherwise.
    bool ShowMessage(const std::string& title, const std::string& text);
    // Whether there was a notification area when the icon was last wanted; assumed until then.
    bool ShellSupport() const { return shell_support_; }
    bool MinimizedFlag() const { return minimized_; }

    // The hidden window's procedure: the icon's callback message carries the mouse message.
    void WindowProc(uint32_t message, uint32_t mouse_message);

private:
    void AddIcon();
    void RemoveIcon();
    void UpdateIcon();
    void SetTip(const std::string& text);
    void AppMinimize();
    void AppRestore();

    bool active_ = false;
    std::string hint_;
    uintptr_t icon_ = 0;
    bool separate_ = false;
    NotifyIconRecord record_;
    bool shell_support_ = false;
    bool minimized_ = false;
    bool shown_ = false;
};

}  // namespace qv
