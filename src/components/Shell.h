#pragma once
// TShell: hands a file, its parameters and a working directory to the desktop's default action.
#include <cstdint>
#include <string>

#include "platform/Component.h"

namespace qv {

enum class TShowCmd {
    Hide,
    Maximize,
    Minimize,
    Restore,
    Show,
    ShowDefault,
    ShowMaximized,
    ShowMinimized,
    ShowMinNoActive,
    ShowNa,
    ShowNoActivate,
    ShowNormal
};

// The platform's show command for each value (SW_...).
int ShowCommandOf(TShowCmd cmd);

class TShell : public TComponent {
public:
    explicit TShell(TComponent* owner) : TComponent(owner) {}

    const std::string& FileName() const { return file_name_; }
    void SetFileName(std::string v) { file_name_ = std::move(v); }
    const std::string& Parameter() const { return parameter_; }
    void SetParameter(std::string v) { parameter_ = std::move(v); }
    const std::string& Directory() const { return directory_; }
    void SetDirectory(std::string v) { directory_ = std::move(v); }
    TShowCmd ShowCmd() const { return show_cmd_; }
    void SetShowCmd(TShowCmd v) { show_cmd_ = v; }
    int32_t LastResult() const { return last_result_; }

    // True when the shell accepted the request (a result above 32).
    bool Execute();

private:
    std::string file_name_, parameter_, directory_;
    TShowCmd show_cmd_ = TShowCmd::ShowNormal;
    int32_t last_result_ = 0;
};

}  // namespace qv
