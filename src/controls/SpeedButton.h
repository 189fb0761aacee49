#pragma once
// A flat speed button; buttons sharing a GroupIndex > 0 act as one group where exactly one
// is down. Pressing a button that is already down keeps it down and runs OnClick again.
#include <QToolButton>
#include <functional>

namespace qv {

class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr);

    int GroupIndex() const { return group_; }
    void SetGroupIndex(int group) { group_ = group; }
    bool Down() const { return isChecked(); }
    // Puts the button down (raising the others of its group) or up; runs no click handler.
    void SetDown(bool down);

    std::function<void()> OnClick;

private:
    void Pressed();
    int group_ = 0;
};

}  // namespace qv
