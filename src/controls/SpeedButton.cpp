#include "controls/SpeedButton.h"

namespace qv {

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(false);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QToolButton::clicked, this, [this] { Pressed(); });
}

void TSpeedButton::SetDown(bool down) {
    setCheckable(group_ > 0 || down);
    setChecked(down);
    if (!down || group_ == 0 || !parentWidget()) return;
    for (auto* other : parentWidget()->findChildren<TSpeedButton*>(Qt::FindDirectChildrenOnly))
        if (other != this && other->group_ == group_) other->setChecked(false);
}

void TSpeedButton::Pressed() {
    if (group_ > 0) SetDown(true);
    if (OnClick) OnClick();
}

}  // namespace qv
