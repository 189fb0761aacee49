#include "controls/CBitBtn.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <vector>

namespace qv {

TCBitBtn::TCBitBtn(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
    setDefault(false);
}

namespace {

// The palette's stand-in for each system colour index (COLOR_SCROLLBAR 0 to COLOR_MENUBAR 30).
QColor SystemColor(uint32_t index, const QPalette& pal) {
    using R = QPalette::ColorRole;
    static constexpr R kRoles[] = {
        R::Button, R::Dark,   R::Highlight,  R::Mid,         R::Window,
        R::Base,   R::Shadow, R::WindowText, R::WindowText,  R::HighlightedText,
        R::Window, R::Window, R::Mid,        R::Highlight,   R::HighlightedText,
        R::Button, R::Dark,   R::NoRole,     R::ButtonText,  R::WindowText,
        R::Light,  R::Shadow, R::Midlight,   R::ToolTipText, R::ToolTipBase,
        R::NoRole, R::Link,   R::Highlight,  R::Mid,         R::Highlight,
        R::Window};
    constexpr uint32_t kGrayText = 17;
    if (index == kGrayText) return pal.color(QPalette::Disabled, QPalette::Text);
    if (index >= std::size(kRoles) || kRoles[index] == R::NoRole) return QColor(0, 0, 0);
    return pal.color(QPalette::Active, kRoles[index]);
}

}  // namespace

QColor TCBitBtn::ColorOf(uint32_t c, const QPalette& palette) {
    if (c & 0x80000000u) return SystemColor(c & 0xFF, palette);
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

QColor TCBitBtn::ColorOf(uint32_t c) {
    return ColorOf(c, QGuiApplication::palette());
}

void TCBitBtn::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    entered_ = true;
    update();
}

void TCBitBtn::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    entered_ = false;
    update();
}

void TCBitBtn::keyPressEvent(QKeyEvent* event) {
    // A focused button is pressed by Enter as by the space bar, without being a default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void TCBitBtn::paintEvent(QPaintEvent*) {
    // The base button first, completely; while focused also its black one-pixel frame.
    QImage image(size(), QImage::Format_ARGB32);
    image.fill(palette().button().color());
    {
        QPainter p(&image);
        QStyleOptionButton option;
        initStyleOption(&option);
        style()->drawControl(QStyle::CE_PushButton, &option, &p, this);
        if (entered_) {
            p.setPen(Qt::black);
            p.setBrush(Qt::NoBrush);
            p.drawRect(0, 0, width() - 1, height() - 1);
        }
    }
    DrawFocusMark(image);
    QPainter(this).drawImage(0, 0, image);
}

void TCBitBtn::DrawFocusMark(QImage& image) {
    if (!entered_) return;
    const int w = width(), h = height();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Over the toolkit's focus rectangle, in the face colour.
    p.setPen(ColorOf(clBtnFace, palette()));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRect(4, 4, w - 8, h - 8), 1, 1);
    if (focus_size_ > h || focus_size_ > w) focus_size_ = 1;
    const int s = focus_size_;
    p.setPen(Qt::black);
    if (focus_type_ == fsRoundRect)
        p.drawRoundedRect(QRect(s + 1, s + 1, w - 2 * s - 2, h - 2 * s - 2), s / 2.0, s / 2.0);
    else
        p.drawEllipse(QRect(s, s, w - 2 * s - 1, h - 2 * s - 1));
    p.end();
    FloodFillToBorder(image, 1, 1, ColorOf(focus_color_, palette()).rgb(), qRgb(0, 0, 0));
}

void FloodFillToBorder(QImage& image, int x, int y, QRgb fill, QRgb border) {
    const int w = image.width(), h = image.height();
    auto at = [&](int px, int py) { return image.pixel(px, py) | 0xFF000000u; };
    if (x < 0 || y < 0 || x >= w || y >= h || at(x, y) == (border | 0xFF000000u)) return;
    std::vector<char> seen(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<std::pair<int, int>> stack{{x, y}};
    while (!stack.empty()) {
        auto [px, py] = stack.back();
        stack.pop_back();
        if (px < 0 || py < 0 || px >= w || py >= h) continue;
        char& mark =
            seen[static_cast<size_t>(py) * static_cast<size_t>(w) + static_cast<size_t>(px)];
        if (mark || at(px, py) == (border | 0xFF000000u)) continue;
        mark = 1;
        image.setPixel(px, py, fill);
        stack.push_back({px + 1, py});
        stack.push_back({px - 1, py});
        stack.push_back({px, py + 1});
        stack.push_back({px, py - 1});
    }
}

}  // namespace qv
