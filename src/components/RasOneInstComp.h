#pragma once
// TrasOneInstComp: keeps a second copy of the program from running, and brings the running
// copy to the front when another one starts.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/InterProcess.h"

namespace qv {

class OneInstCompError : public Exception {
public:
    using Exception::Exception;
};

struct AppMessage;

class TrasOneInstComp : public TComponent {
public:
    explicit TrasOneInstComp(TComponent* owner);
    ~TrasOneInstComp() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    const std::string& Message() const { return message_; }
    void SetMessage(const std::string& value);
    const std::string& Mutex() const { return mutex_; }
    void SetMutex(const std::string& value);
    const std::string& Text() const { return text_; }
    void SetText(std::string v) { text_ = std::move(v); }
    const std::string& Title() const { return title_; }
    void SetTitle(std::string v) { title_ = std::move(v); }
    std::function<void(TrasOneInstComp* sender)> OnAnotherInstance;

    bool Hooked() const { return hooked_; }
    SysHandle MutexHandle() const { return mutex_handle_; }

protected:
    void Loaded() override;

private:
    void Activate();
    void Deactivate();
    bool FindOtherInstance();
    void NotifyOtherInstance();
    bool MainWindowHook(AppMessage& m);

    bool enabled_ = true;
    std::string message_;
    std::string mutex_;
    std::string text_, title_;
    SysHandle mutex_handle_ = 0;
    uint32_t message_id_ = 0;
    bool hooked_ = false;
    int hook_id_ = 0;
};

}  // namespace qv
