#include "controls/InputBox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>

#include "controls/CBitBtn.h"
#include "controls/MaskEdit.h"

namespace qv {
namespace {

// Width of a label in the dialog's font, as the box measures it.
int LabelWidth(const std::string& text) {
    QLabel l(QString::fromStdString(text));
    QFont f(QString::fromUtf8("細明體"));
    f.setPointSize(12);
    l.setFont(f);
    l.adjustSize();
    return l.width();
}

class InputBoxTest : public ::testing::Test {
protected:
    TInputBox box{nullptr};
    // Runs Execute with `act` on the open dialog, then closes it as `close` says.
    void Open(std::function<void()> act, std::function<void()> close) {
        box.RunModal = [&](QDialog*) {
            if (act) act();
            if (close) close();
        };
        box.Execute();
    }
};

TEST_F(InputBoxTest, TheLoginDialogGeometry) {
    box.Caption = "登入設定";
    box.SetLabel(1, "使用者名稱");
    box.SetLabel(2, "使用者密碼");
    const int w = std::max(LabelWidth("使用者名稱"), LabelWidth("使用者密碼"));
    Open(
        [&] {
            EXPECT_EQ(box.DialogHeight(), 140);
            EXPECT_EQ(box.DialogWidth(), w + 170);
            EXPECT_EQ(box.Dialog()->windowTitle(), "登入設定");
            EXPECT_EQ(box.RowLabel(1)->geometry().right() + 1, w + 10);  // one right edge
            EXPECT_EQ(box.RowLabel(2)->geometry().right() + 1, w + 10);
            EXPECT_EQ(box.RowLabel(1)->y(), 12);
            EXPECT_EQ(box.RowLabel(2)->y(), 42);
            EXPECT_EQ(box.Edits(1)->geometry().topLeft(), QPoint(w + 15, 10));
            EXPECT_EQ(box.Edits(2)->geometry().topLeft(), QPoint(w + 15, 40));
            EXPECT_EQ(box.Edits(1)->width(), 120);
            const int width = w + 170;
            EXPECT_EQ(box.OkButton()->geometry(), QRect((width - 150) / 3, 80, 75, 25));
            EXPECT_EQ(box.CancelButton()->geometry(),
                      QRect(width - 75 - (width - 150) / 3, 80, 75, 25));
            EXPECT_EQ(box.OkButton()->FocusType(), fsEllipse);
            EXPECT_EQ(box.OkButton()->FocusColor(), 65280u);
            EXPECT_FALSE(box.OkButton()->isDefault());
            EXPECT_FALSE(box.OkButton()->autoDefault());
            EXPECT_EQ(box.Edits(3), nullptr);
            EXPECT_EQ(box.StatusBar(), nullptr);
        },
        [&] { box.OkButton()->click(); });
    EXPECT_TRUE(box.Accepted());
    EXPECT_FALSE(box.IsOpen());
    EXPECT_EQ(box.Edits(1), nullptr);
}

TEST_F(InputBoxTest, TheWorkedFiguresForEightyPixelLabels) {
    // 80-pixel labels (five characters at 96 dpi): 250 x 140, OK at 33, Cancel at 142.
    const int w = 80, width = w + 120 + 50;
    EXPECT_EQ(width, 250);
    EXPECT_EQ((width - 150) / 3, 33);
    EXPECT_EQ(width - 75 - (width - 150) / 3, 142);
    // No minimum width: a 100-wide dialog puts OK at -16 and Cancel at 41.
    EXPECT_EQ((100 - 150) / 3, -16);
    EXPECT_EQ(100 - 75 - (100 - 150) / 3, 41);
    box.EditWidth = 50;  // no rows: 50 + 50 = 100 wide, 240 high
    Open(
        [&] {
            EXPECT_EQ(box.DialogWidth(), 100);
            EXPECT_EQ(box.DialogHeight(), 240);
            EXPECT_EQ(box.OkButton()->geometry(), QRect(-16, 180, 75, 25));
            EXPECT_EQ(box.CancelButton()->geometry(), QRect(41, 180, 75, 25));
        },
        [&] { box.CancelButton()->click(); });
}

TEST_F(InputBoxTest, RowsKeepTheirPlaceAndOnlyExistingRowsCopyBack) {
    box.SetLabel(2, "B");
    box.SetText(1, "one");
    box.SetText(2, "two");
    Open(
        [&] {
            EXPECT_EQ(box.RowLabel(1), nullptr);
            EXPECT_EQ(box.RowLabel(2)->y(), 42);
            EXPECT_EQ(box.Edits(2)->y(), 40);
            EXPECT_EQ(box.DialogHeight(), 140);
            EXPECT_EQ(box.Edits(2)->Text(), "two");
            box.Edits(2)->setText("typed");
            EXPECT_EQ(box.Text(2), "typed");  // what has been typed so far
            box.SetText(2, "set while open");
            EXPECT_EQ(box.Edits(2)->Text(), "set while open");
        },
        [&] { box.CancelButton()->click(); });
    EXPECT_FALSE(box.Accepted());
    EXPECT_EQ(box.Text(2), "set while open");  // kept after Cancel; Accepted says to ignore it
    EXPECT_EQ(box.Text(1), "one");
}

TEST_F(InputBoxTest, NotesWidenTheDialogAndTheStatusBarAddsItsHeight) {
    box.SetLabel(1, "A");
    box.SetNote(1, std::string(60, 'W'));
    box.SetNote(2, "short");
    box.SetNoteColor(1, clBtnText);  // a system colour: the palette's, not RGB(18, 0, 0)
    box.SetNoteColor(2, 0x000000FF);
    box.StatusEnabled = true;
    box.SetStatusText("ready");
    Open(
        [&] {
            ASSERT_NE(box.NoteLabel(1), nullptr);
            const int note_width = box.NoteLabel(1)->sizeHint().width();
            EXPECT_EQ(box.NoteLabel(1)->y(), 50);  // 110 - 60
            EXPECT_EQ(box.NoteLabel(2)->y(), 75);  // after the first note's 25
            EXPECT_EQ(box.DialogWidth(), note_width + 20);
            EXPECT_EQ(box.NoteLabel(2)->width(), box.DialogWidth() - 20);
            EXPECT_EQ(box.NoteLabel(2)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
            EXPECT_EQ(box.NoteLabel(1)->palette().color(QPalette::WindowText),
                      box.NoteLabel(1)->palette().color(QPalette::ButtonText));
            EXPECT_EQ(box.OkButton()->y(), 160 - 60);
            EXPECT_EQ(box.OkButton()->x(), (box.DialogWidth() - 150) / 3);
            EXPECT_EQ(box.DialogHeight(), 160 + 19);
            EXPECT_EQ(box.StatusBar()->currentMessage(), "ready");
            box.SetStatusText("changed");
            EXPECT_EQ(box.StatusBar()->currentMessage(), "changed");
            box.SetNote(1, "new note");
            EXPECT_EQ(box.NoteLabel(1)->text(), "new note");
        },
        [&] { box.OkButton()->click(); });
}

TEST_F(InputBoxTest, TheCloseBoxAndEscapeCountAsCancelEvenAfterAnEarlierOk) {
    box.SetLabel(1, "A");
    Open(nullptr, [&] { box.OkButton()->click(); });
    EXPECT_TRUE(box.Accepted());
    Open([&] { box.Edits(1)->setText("typed"); }, [&] { box.Dialog()->close(); });
    EXPECT_FALSE(box.Accepted());
    EXPECT_EQ(box.Text(1), "typed");  // copied back however it closed
    Open(nullptr, [&] { box.OkButton()->click(); });
    Open(nullptr, [&] {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box.Dialog(), &esc);
    });
    EXPECT_FALSE(box.Accepted());
}

TEST_F(InputBoxTest, EnterInARowDoesNotPressOk) {
    box.SetLabel(1, "A");
    bool closed_by_enter = false;
    Open(
        [&] {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(box.Edits(1), &enter);
            closed_by_enter = box.Accepted();
        },
        [&] { box.CancelButton()->click(); });
    EXPECT_FALSE(closed_by_enter);
}

TEST_F(InputBoxTest, EditorEventsReachTheBoxWithTheRowNumber) {
    box.SetLabel(1, "A");
    box.SetLabel(3, "C");
    box.SetText(3, "x");
    std::vector<std::string> seen;
    box.OnChange = [&](TInputBox* s, int num) {
        EXPECT_EQ(s, &box);
        seen.push_back("change " + std::to_string(num));
    };
    box.OnKeyDown = [&](TInputBox* s, int num, uint16_t& key, int shift) {
        EXPECT_EQ(s, &box);
        seen.push_back("down " + std::to_string(num) + " " + std::to_string(key) + " " +
                       std::to_string(shift));
        if (key == 'Q') key = 0;  // swallowed
    };
    box.OnKeyPress = [&](TInputBox*, int num, char32_t& key) {
        seen.push_back("press " + std::to_string(num));
        if (key == U'a') key = U'b';
    };
    box.OnMouseDown = [&](TInputBox*, int num, TInputMouseButton button, int, int x, int y) {
        seen.push_back("mouse " + std::to_string(num) + " " +
                       std::to_string(static_cast<int>(button)) + " " + std::to_string(x) + "," +
                       std::to_string(y));
    };
    box.OnShow = [&](TInputBox* s) { seen.push_back(s == &box ? "show" : "?"); };
    Open(
        [&] {
            box.Dialog()->show();
            TMaskEdit* e3 = box.Edits(3);
            e3->setText("");
            QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, "a");
            QApplication::sendEvent(e3, &a);
            QKeyEvent q(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q");
            QApplication::sendEvent(e3, &q);
            QMouseEvent m(QEvent::MouseButtonPress, QPointF(4, 5), QPointF(4, 5), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
            QApplication::sendEvent(box.Edits(1), &m);
            EXPECT_EQ(e3->Text(), "b");  // the handler's character went in
        },
        [&] { box.CancelButton()->click(); });
    EXPECT_EQ(seen, (std::vector<std::string>{"show", "change 3", "down 3 65 1", "press 3",
                                              "change 3", "down 3 81 0", "mouse 1 1 4,5"}));
}

TEST_F(InputBoxTest, KeysWithoutACodePassOnAndAChangedKeyIsTheOneTyped) {
    box.SetLabel(1, "A");
    std::vector<int> seen;
    box.OnKeyDown = [&](TInputBox*, int, uint16_t& key, int) {
        seen.push_back(key);
        if (key == 'X') key = 'Y';
        if (key == 0xBD) key = 0xBE;  // "-" becomes "."
    };
    box.OnKeyUp = [&](TInputBox*, int, uint16_t& key, int) { seen.push_back(-key); };
    std::string typed;
    Open(
        [&] {
            TMaskEdit* e = box.Edits(1);
            auto type = [&](int qt_key, Qt::KeyboardModifiers mods, const char* text) {
                QKeyEvent down(QEvent::KeyPress, qt_key, mods, QString::fromUtf8(text));
                QApplication::sendEvent(e, &down);
                QKeyEvent up(QEvent::KeyRelease, qt_key, mods, QString::fromUtf8(text));
                QApplication::sendEvent(e, &up);
            };
            type(Qt::Key_Period, Qt::NoModifier, ".");
            type(Qt::Key_At, Qt::ShiftModifier, "@");
            type(Qt::Key_unknown, Qt::NoModifier, "中");
            type(Qt::Key_X, Qt::NoModifier, "x");
            type(Qt::Key_Minus, Qt::NoModifier, "-");
            typed = e->Text();
        },
        [&] { box.CancelButton()->click(); });
    EXPECT_EQ(typed, ".@中y.");
    EXPECT_EQ(seen, (std::vector<int>{0xBE, -0xBE, 0, 0, 0, 0, 'X', -'X', 0xBD, -0xBD}));
}

TEST(VirtualKeys, BothWays) {
    EXPECT_EQ(VirtualKeyOf(Qt::Key_Period), 0xBE);
    EXPECT_EQ(VirtualKeyOf(Qt::Key_Greater), 0xBE);  // the same key shifted
    EXPECT_EQ(VirtualKeyOf(Qt::Key_At), 0);
    EXPECT_EQ(QtKeyOf(0xBE), Qt::Key_Period);
    EXPECT_EQ(QtKeyOf('Q'), Qt::Key_Q);
    EXPECT_EQ(QtKeyOf(0x0D), Qt::Key_Return);
    EXPECT_EQ(QtKeyOf(0xFF), Qt::Key_unknown);
}

}  // namespace
}  // namespace qv
