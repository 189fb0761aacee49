#pragma once
// TCBitBtn: a push button with glyph and caption that marks keyboard focus in colour: the band
// between its edge and a black ellipse (or rounded rectangle) is filled with FocusColor.
#include <QImage>
#include <QPushButton>
#include <cstdint>
#include <string>

namespace qv {

enum TFocusType { fsRoundRect = 0, fsEllipse = 1 };

// System colour values (the top bit set, the index in the low byte).
constexpr uint32_t clWindowText = 0x80000008, clBtnFace = 0x8000000F, clBtnText = 0x80000012;

class TCBitBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TCBitBtn(QWidget* parent = nullptr);

    uint32_t FocusColor() const { return focus_color_; }  // 0x00BBGGRR
    void SetFocusColor(uint32_t c) {
        focus_color_ = c;
        update();
    }
    int FocusSize() const { return focus_size_; }
    void SetFocusSize(int s) {
        focus_size_ = s;
        update();
    }
    TFocusType FocusType() const { return focus_type_; }
    void SetFocusType(TFocusType t) {
        focus_type_ = t;
        update();
    }
    const std::string& PassStr() const { return pass_str_; }
    void SetPassStr(std::string s) { pass_str_ = std::move(s); }
    bool Entered() const { return entered_; }

    // A colour value: 0x00BBGGRR, or, with the top bit set, a system colour whose low byte is
    // its index (0x8000000F the button face), taken from the palette.
    static QColor ColorOf(uint32_t value, const QPalette& palette);
    static QColor ColorOf(uint32_t value);  // system colours from the application's palette

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void DrawFocusMark(QImage& image);

    uint32_t focus_color_ = 65280;
    int focus_size_ = 3;
    TFocusType focus_type_ = fsEllipse;
    std::string pass_str_;
    bool entered_ = false;
};

// Fills from (x, y) over every pixel that is not `border`, 4-connected (as ExtFloodFill with
// FLOODFILLBORDER does); nothing happens when the start pixel is the border colour.
void FloodFillToBorder(QImage& image, int x, int y, QRgb fill, QRgb border);

}  // namespace qv
