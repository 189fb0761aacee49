#include "controls/CBitBtn.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QImage>

namespace qv {
namespace {

QImage Grab(TCBitBtn& b, bool focused) {
    if (focused) {
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(&b, &in);
    }
    return b.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int CountColour(const QImage& img, QRgb c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) | 0xFF000000u) == (c | 0xFF000000u);
    return n;
}

const QRgb kGreen = qRgb(0, 255, 0);

TEST(CBitBtn, DefaultsAndColourOrder) {
    TCBitBtn b;
    EXPECT_EQ(b.FocusColor(), 65280u);
    EXPECT_EQ(b.FocusSize(), 3);
    EXPECT_EQ(b.FocusType(), fsEllipse);
    EXPECT_EQ(TCBitBtn::ColorOf(0x00FF0000), QColor(0, 0, 255));  // 0x00BBGGRR
    EXPECT_EQ(TCBitBtn::ColorOf(0x000000FF), QColor(255, 0, 0));
}

TEST(CBitBtn, ATopBitValueNamesASystemColourOfThePalette) {
    QPalette pal;
    pal.setColor(QPalette::Button, QColor(1, 2, 3));
    pal.setColor(QPalette::WindowText, QColor(4, 5, 6));
    pal.setColor(QPalette::ButtonText, QColor(7, 8, 9));
    pal.setColor(QPalette::Highlight, QColor(10, 11, 12));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(13, 14, 15));
    EXPECT_EQ(TCBitBtn::ColorOf(clBtnFace, pal), QColor(1, 2, 3));  // not RGB(15, 0, 0)
    EXPECT_EQ(TCBitBtn::ColorOf(clWindowText, pal), QColor(4, 5, 6));
    EXPECT_EQ(TCBitBtn::ColorOf(clBtnText, pal), QColor(7, 8, 9));
    EXPECT_EQ(TCBitBtn::ColorOf(0x8000000D, pal), QColor(10, 11, 12));  // highlight
    EXPECT_EQ(TCBitBtn::ColorOf(0x80000011, pal), QColor(13, 14, 15));  // grey text
    EXPECT_EQ(TCBitBtn::ColorOf(0x800000FF, pal), QColor(0, 0, 0));     // no such index
    EXPECT_EQ(TCBitBtn::ColorOf(0x0000000F, pal), QColor(15, 0, 0));    // plain RGB
}

TEST(CBitBtn, ASystemFocusColourFillsWithThePaletteColour) {
    TCBitBtn b;
    b.resize(75, 25);
    QPalette pal = b.palette();
    pal.setColor(QPalette::Highlight, QColor(0, 0, 200));
    b.setPalette(pal);
    b.SetFocusColor(0x8000000D);
    QImage img = Grab(b, true);
    EXPECT_EQ(img.pixel(1, 1) | 0xFF000000u, qRgb(0, 0, 200));
}

TEST(CBitBtn, WithoutFocusItIsThePlainButton) {
    TCBitBtn b;
    b.setText("OK");
    b.resize(75, 25);
    QImage img = Grab(b, false);
    EXPECT_EQ(CountColour(img, kGreen), 0);
}

TEST(CBitBtn, FocusedEllipseFillsTheBandOutsideIt) {
    TCBitBtn b;
    b.setText("OK");
    b.resize(75, 25);
    QImage img = Grab(b, true);
    ASSERT_TRUE(b.Entered());
    EXPECT_EQ(img.pixel(0, 0) | 0xFF000000u, qRgb(0, 0, 0));   // the black frame
    EXPECT_EQ(img.pixel(1, 1) | 0xFF000000u, kGreen);          // the band
    EXPECT_EQ(img.pixel(73, 23) | 0xFF000000u, kGreen);        // the opposite corner
    EXPECT_EQ(img.pixel(3, 12) | 0xFF000000u, qRgb(0, 0, 0));  // the ellipse's left end
    EXPECT_NE(img.pixel(37, 12) | 0xFF000000u, kGreen);        // inside stays the face
    EXPECT_NE(img.pixel(20, 12) | 0xFF000000u, kGreen);
    int green = CountColour(img, kGreen);
    EXPECT_GT(green, 200);
    EXPECT_LT(green, 75 * 25 / 2);
    // Losing the focus takes the mark away.
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&b, &out);
    EXPECT_EQ(CountColour(b.grab().toImage().convertToFormat(QImage::Format_RGB32), kGreen), 0);
}

TEST(CBitBtn, RoundRectOtherColourAndOversizedInset) {
    TCBitBtn b;
    b.resize(75, 25);
    b.SetFocusType(fsRoundRect);
    b.SetFocusColor(0x000000FF);  // red
    b.SetFocusSize(40);           // larger than the height: becomes 1 at the first focused paint
    QImage img = Grab(b, true);
    EXPECT_EQ(b.FocusSize(), 1);
    EXPECT_EQ(img.pixel(1, 1) | 0xFF000000u, qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(2, 12) | 0xFF000000u, qRgb(0, 0, 0));  // outline at s + 1 = 2
    EXPECT_NE(img.pixel(37, 12) | 0xFF000000u, qRgb(255, 0, 0));
}

TEST(FloodFill, StopsAtTheBorderColourOnly) {
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(qRgb(200, 200, 200));
    for (int i = 0; i < 10; ++i) img.setPixel(5, i, qRgb(0, 0, 0));  // a wall
    img.setPixel(2, 2, qRgb(10, 10, 10));                            // dark, not black
    FloodFillToBorder(img, 0, 0, qRgb(0, 255, 0), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(2, 2), qRgb(0, 255, 0));
    EXPECT_EQ(img.pixel(4, 9), qRgb(0, 255, 0));
    EXPECT_EQ(img.pixel(6, 0), qRgb(200, 200, 200));
    FloodFillToBorder(img, 5, 5, qRgb(255, 0, 0), qRgb(0, 0, 0));  // starts on the border
    EXPECT_EQ(img.pixel(5, 5), qRgb(0, 0, 0));
}

}  // namespace
}  // namespace qv
