#include "platform/Application.h"

#include <algorithm>

namespace qv {

std::string IApplication::Title() const {
    std::string exe = ExeName();
    size_t slash = exe.rfind('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    for (size_t i = 1; i < name.size(); ++i)
        if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
    return name;
}

void IApplication::Notify(const std::function<void()>& event) {
    if (!event) return;
    try {
        event();
    } catch (const std::exception& e) {
        ShowException(e.what());
    }
}

int IApplication::HookMainWindow(Hook hook) {
    int id = next_hook_++;
    hooks_.emplace_back(id, std::move(hook));
    return id;
}

void IApplication::UnhookMainWindow(int id) {
    hooks_.erase(
        std::remove_if(hooks_.begin(), hooks_.end(), [id](const auto& h) { return h.first == id; }),
        hooks_.end());
}

bool IApplication::DispatchAppMessage(AppMessage& m) {
    for (auto& [id, hook] : std::vector<std::pair<int, Hook>>(hooks_))
        if (hook(m)) return true;
    return false;
}

}  // namespace qv
