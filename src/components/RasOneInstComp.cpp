#include "components/RasOneInstComp.h"

#include "platform/Application.h"
#include "platform/Platform.h"

namespace qv {

TrasOneInstComp::TrasOneInstComp(TComponent* owner)
    : TComponent(owner),
      message_(ShortDateText() + "-message"),
      mutex_(ShortDateText() + "-mutex") {}

TrasOneInstComp::~TrasOneInstComp() {
    Deactivate();
}

void TrasOneInstComp::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    if (enabled_)
        Activate();
    else
        Deactivate();
}

void TrasOneInstComp::SetMutex(const std::string& value) {
    if (!Designing() && !Loading())
        throw OneInstCompError("you can't change Mutex property at runtime!");
    if (value == mutex_) return;
    mutex_ = value.empty() ? ShortDateText() + "-mutex" : value;
}

void TrasOneInstComp::SetMessage(const std::string& value) {
    if (!Designing() && !Loading())
        throw OneInstCompError("you can't change Message property at runtime!");
    if (value == message_) return;
    message_ = value.empty() ? ShortDateText() + "-message" : value;
}

void TrasOneInstComp::Loaded() {
    TComponent::Loaded();
    Activate();
}

void TrasOneInstComp::Activate() {
    if (!enabled_ || Designing()) return;
    message_id_ = InterProcess().RegisterWindowMessage(message_);
    if (FindOtherInstance()) return;
    if (!hooked_) {
        hook_id_ =
            Application().HookMainWindow([this](AppMessage& m) { return MainWindowHook(m); });
        hooked_ = true;
    }
    InterProcess().ReceiveBroadcasts(message_id_);
}

bool TrasOneInstComp::FindOtherInstance() {
    IInterProcess& ipc = InterProcess();
    mutex_handle_ = ipc.OpenMutex(mutex_);
    if (mutex_handle_ == 0) {
        mutex_handle_ = ipc.CreateMutex(mutex_);
        return false;
    }
    if (!text_.empty() || !title_.empty()) Application().MessageBox(text_, title_);
    if (OnAnotherInstance) OnAnotherInstance(this);
    if (ipc.CloseHandle(mutex_handle_)) mutex_handle_ = 0;
    NotifyOtherInstance();
    Application().PostQuit();
    return true;
}

void TrasOneInstComp::NotifyOtherInstance() {
    Application().ShowMainForm = false;
    InterProcess().BroadcastSystemMessage(message_id_);
}

bool TrasOneInstComp::MainWindowHook(AppMessage& m) {
    if (m.msg != message_id_) return false;
    IApplication& app = Application();
    if (app.IsMinimized()) app.Restore();
    app.BringToFront();
    return true;
}

void TrasOneInstComp::Deactivate() {
    if (hooked_) {
        Application().UnhookMainWindow(hook_id_);
        hooked_ = false;
        // Before the mutex goes: the next copy to take it must find the message name free.
        InterProcess().StopReceiving(message_id_);
    }
    if (mutex_handle_ != 0 && InterProcess().CloseHandle(mutex_handle_)) mutex_handle_ = 0;
}

}  // namespace qv
