#include "platform/Timer.h"

#include <QTimer>

namespace qv {

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    // Precise: a coarse timer may fire up to 5 % of its interval early or late, three seconds
    // of a minute; a precise one keeps to the millisecond.
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Tick(); });
    Arm();
}

TTimer::~TTimer() = default;

void TTimer::SetInterval(int ms) {
    interval_ = ms;
    Arm();
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Arm();
}

void TTimer::Arm() {
    timer_->stop();
    if (!enabled_ || interval_ <= 0) return;
    int delay = NextDelay ? NextDelay() : interval_;
    timer_->start(delay < 0 ? 0 : delay);
}

void TTimer::Tick() {
    if (EarlyBy) {
        const int early = EarlyBy();
        if (early > 0) {
            timer_->start(early);
            return;
        }
    }
    if (OnTimer) OnTimer();
    // Re-arm after the handler so a long tick never overlaps the next one.
    if (enabled_ && !timer_->isActive()) Arm();
}

}  // namespace qv
