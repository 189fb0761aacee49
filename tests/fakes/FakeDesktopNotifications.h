#pragma once
// A notification service for tests: records each message.
#include <string>
#include <utility>
#include <vector>

#include "platform/DesktopNotifications.h"

namespace qv {

class FakeDesktopNotifications : public IDesktopNotifications {
public:
    std::vector<std::pair<std::string, std::string>> shown;
    bool present = true;
    bool Notify(const std::string& title, const std::string& text) override {
        if (!present) return false;
        shown.emplace_back(title, text);
        return true;
    }
};

}  // namespace qv
