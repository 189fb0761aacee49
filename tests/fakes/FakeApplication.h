#pragma once
// The application object for tests: records dialogs, minimise and restore, never blocks.
#include <functional>
#include <string>
#include <vector>

#include "platform/Application.h"

namespace qv {

class FakeApplication : public IApplication {
public:
    std::string exe = "/opt/quorvane/Quorvane";
    std::vector<std::pair<std::string, std::string>> messages;  // (text, caption)
    std::vector<std::string> exceptions;
    int minimize_calls = 0, restore_calls = 0, front_calls = 0, terminate_calls = 0;
    bool minimized = false;
    // Runs while a message box is "open" (a modal loop in which timer ticks still arrive).
    std::function<void(const std::string&)> while_message_open;

    std::string ExeName() const override { return exe; }
    void Minimize() override {
        ++minimize_calls;
        if (!minimized) {
            minimized = true;
            Minimized();
        }
    }
    void Restore() override {
        ++restore_calls;
        if (minimized) {
            minimized = false;
            Restored();
        }
    }
    bool IsMinimized() const override { return minimized; }
    bool taskbar_button = true;
    void SetTaskbarButtonVisible(bool visible) override { taskbar_button = visible; }
    bool TaskbarButtonVisible() const override { return taskbar_button; }
    void BringToFront() override { ++front_calls; }
    void MessageBox(const std::string& text) override { MessageBox(text, Title()); }
    void MessageBox(const std::string& text, const std::string& caption) override {
        messages.emplace_back(text, caption);
        if (while_message_open) while_message_open(text);
    }
    void ShowException(const std::string& message) override { exceptions.push_back(message); }
    void Terminate() override { ++terminate_calls; }
    int quit_posts = 0;
    void PostQuit() override { ++quit_posts; }
};

}  // namespace qv
