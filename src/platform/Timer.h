#pragma once
// A message-driven timer component: OnTimer runs on the thread that owns the window, also
// inside modal dialogs, and a tick's work completes before the next tick starts.
#include <functional>
#include <memory>

#include "platform/Component.h"

class QTimer;

namespace qv {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // When set, it decides the delay before each next tick (re-armed after every tick);
    // Interval stays the nominal period.
    std::function<int()> NextDelay;
    // When set, it is asked as the timer wakes: a positive result is how many ms too early the
    // wake came (its clock has not reached the tick yet), and the timer sleeps that long
    // instead of ticking.
    std::function<int()> EarlyBy;
    std::function<void()> OnTimer;

private:
    void Arm();
    void Tick();

    int interval_ = 1000;
    bool enabled_ = true;
    std::unique_ptr<QTimer> timer_;
};

}  // namespace qv
