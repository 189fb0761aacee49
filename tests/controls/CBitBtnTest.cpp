#include "CBitBtn.h"

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
