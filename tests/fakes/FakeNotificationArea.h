#pragma once
// A notification area for tests: records every add, modify and delete with the record it got,
// counts the questions asked of it (on a desktop, each is a round trip to the session bus), and
// replays mouse messages.
#include <string>
#include <vector>

#include "platform/NotificationArea.h"

namespace qv {

class FakeNotificationArea : public INotificationArea {
public:
    struct Call {
        std::string op;
        NotifyIconRecord record;
    };
    std::vector<Call> calls;
    bool available = true;
    bool single_clicks_only = false;
    bool add_succeeds = true;
    int cursor_x = 900, cursor_y = 700;
    mutable int questions = 0;

    bool Available() const override {
        ++questions;
        return available;
    }
    bool SingleClicksOnly() const override {
        ++questions;
        return single_clicks_only;
    }
    bool Add(const NotifyIconRecord& r) override {
        calls.push_back({"add", r});
        return add_succeeds;
    }
    bool Modify(const NotifyIconRecord& r) override {
        calls.push_back({"modify", r});
        return true;
    }
    bool Delete(const NotifyIconRecord& r) override {
        calls.push_back({"delete", r});
        return true;
    }
    bool ShowMessage(const std::string& title, const std::string& text) override {
        calls.push_back({"message", {0, 0, 0, title + "|" + text}});
        return true;
    }
    void CursorPos(int* x, int* y) const override {
        *x = cursor_x;
        *y = cursor_y;
    }
    void Mouse(uint32_t message) {
        if (OnMouse) OnMouse(message);
    }
    std::vector<std::string> Ops() const {
        std::vector<std::string> out;
        for (auto& c : calls) out.push_back(c.op);
        return out;
    }
};

}  // namespace qv
