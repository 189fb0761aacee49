#pragma once
// The application object: title, program file, minimise/restore with their events, hooks on the
// application window's messages, the plain message dialog and the default error report.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv {

// A message sent to the application window (the hook mechanism other copies and the
// notification area use).
struct AppMessage {
    uint32_t msg = 0;
    intptr_t wparam = 0;
    intptr_t lparam = 0;
    intptr_t result = 0;
};

class IApplication {
public:
    virtual ~IApplication() = default;

    // The running program file, absolute ("/opt/quorvane/Quorvane").
    virtual std::string ExeName() const = 0;
    // The program file's name up to its first full stop, every character after the first in
    // lower case ("Quorvane.EXE" gives "Quorvane").
    std::string Title() const;

    virtual void Minimize() = 0;
    virtual void Restore() = 0;
    virtual bool IsMinimized() const = 0;
    // Brings the main window to the front.
    virtual void BringToFront() = 0;
    // The program's taskbar button (ShowWindow of the application window).
    virtual void SetTaskbarButtonVisible(bool visible) = 0;
    virtual bool TaskbarButtonVisible() const = 0;

    // Modal, centred, the application title as caption, one OK button.
    virtual void MessageBox(const std::string& text) = 0;
    // The same dialog with a caption of the caller's choosing.
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
    // The default error report for an exception that reached the message loop.
    virtual void ShowException(const std::string& message) { MessageBox(message); }

    // Ends the message loop; the main window is closed normally first when it is shown.
    virtual void Terminate() = 0;
    // Makes the message loop end as soon as it runs (it may not be running yet).
    virtual void PostQuit() = 0;

    // Whether the message loop shows the main form when it starts (cleared by a second copy).
    bool ShowMainForm = true;

    std::function<void()> OnMinimize;
    std::function<void()> OnRestore;

    // Hooks see every message sent to the application window before it is handled;
    // a hook that returns true consumes it.
    using Hook = std::function<bool(AppMessage&)>;
    int HookMainWindow(Hook hook);
    void UnhookMainWindow(int id);
    // Delivers a message to the hooks (what the window procedure does with it).
    bool DispatchAppMessage(AppMessage& m);

protected:
    // Implementations call these after the window really changed state; an error in the
    // handlers goes to the default error report.
    void Minimized() { Notify(OnMinimize); }
    void Restored() { Notify(OnRestore); }

private:
    void Notify(const std::function<void()>& event);
    std::vector<std::pair<int, Hook>> hooks_;
    int next_hook_ = 1;
};

}  // namespace qv
