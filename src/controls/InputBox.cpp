#include "controls/InputBox.h"

#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <optional>

#include "controls/CBitBtn.h"
#include "controls/MaskEdit.h"

namespace qv {

namespace {

constexpr const char* kDialogFace = "細明體";

int ShiftOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons = Qt::NoButton) {
    int s = 0;
    if (mods & Qt::ShiftModifier) s |= ssShift;
    if (mods & Qt::AltModifier) s |= ssAlt;
    if (mods & Qt::ControlModifier) s |= ssCtrl;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

TInputMouseButton ButtonOf(Qt::MouseButton b) {
    return b == Qt::RightButton    ? TInputMouseButton::mbRight
           : b == Qt::MiddleButton ? TInputMouseButton::mbMiddle
                                   : TInputMouseButton::mbLeft;
}

}  // namespace

namespace {

// Keys with a code of their own, both ways; the punctuation keys of a US keyboard carry their
// key's code, shifted or not.
struct KeyCode {
    int qt_key;
    uint16_t vk;
};
constexpr KeyCode kKeyCodes[] = {
    {Qt::Key_Backspace, 0x08},  {Qt::Key_Tab, 0x09},         {Qt::Key_Backtab, 0x09},
    {Qt::Key_Return, 0x0D},     {Qt::Key_Enter, 0x0D},       {Qt::Key_Shift, 0x10},
    {Qt::Key_Control, 0x11},    {Qt::Key_Alt, 0x12},         {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},      {Qt::Key_PageUp, 0x21},      {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},        {Qt::Key_Home, 0x24},        {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},         {Qt::Key_Right, 0x27},       {Qt::Key_Down, 0x28},
    {Qt::Key_Insert, 0x2D},     {Qt::Key_Delete, 0x2E},      {Qt::Key_Semicolon, 0xBA},
    {Qt::Key_Colon, 0xBA},      {Qt::Key_Equal, 0xBB},       {Qt::Key_Plus, 0xBB},
    {Qt::Key_Comma, 0xBC},      {Qt::Key_Less, 0xBC},        {Qt::Key_Minus, 0xBD},
    {Qt::Key_Underscore, 0xBD}, {Qt::Key_Period, 0xBE},      {Qt::Key_Greater, 0xBE},
    {Qt::Key_Slash, 0xBF},      {Qt::Key_Question, 0xBF},    {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_AsciiTilde, 0xC0}, {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_Backslash, 0xDC},  {Qt::Key_Bar, 0xDC},         {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_BraceRight, 0xDD}, {Qt::Key_Apostrophe, 0xDE},  {Qt::Key_QuoteDbl, 0xDE},
};

// What a key types when a handler changed the key to it: letters by the Shift state, digits,
// and the unshifted punctuation and control characters; nothing for the others.
QString TextOfKey(uint16_t vk, Qt::KeyboardModifiers mods) {
    if (mods & (Qt::ControlModifier | Qt::AltModifier)) return {};
    const bool shift = mods & Qt::ShiftModifier;
    if (vk >= 'A' && vk <= 'Z') return QChar(shift ? vk : vk - 'A' + 'a');
    if (vk >= '0' && vk <= '9') return QChar(vk);
    switch (vk) {
        case 0x08:
            return QChar('\b');
        case 0x09:
            return QChar('\t');
        case 0x0D:
            return QChar('\r');
        case 0x1B:
            return QChar(0x1B);
        case 0x20:
            return QChar(' ');
        default:
            break;
    }
    const int qt_key = QtKeyOf(vk);
    if (qt_key >= 0x21 && qt_key <= 0x7E) return QChar(qt_key);  // the key's own character
    return {};
}

}  // namespace

uint16_t VirtualKeyOf(int k) {
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return static_cast<uint16_t>('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return static_cast<uint16_t>('0' + (k - Qt::Key_0));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return static_cast<uint16_t>(0x70 + (k - Qt::Key_F1));
    for (const KeyCode& c : kKeyCodes)
        if (c.qt_key == k) return c.vk;
    return 0;
}

int QtKeyOf(uint16_t vk) {
    if (vk >= 'A' && vk <= 'Z') return Qt::Key_A + (vk - 'A');
    if (vk >= '0' && vk <= '9') return Qt::Key_0 + (vk - '0');
    if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + (vk - 0x70);
    for (const KeyCode& c : kKeyCodes)
        if (c.vk == vk) return c.qt_key;  // the first, unshifted key of each code
    return Qt::Key_unknown;
}

// Forwards the row editors' events to the component, with the box as Sender and the row.
class TInputBox::Filter : public QObject {
public:
    explicit Filter(TInputBox* box) : box_(box) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        auto* edit = qobject_cast<TMaskEdit*>(watched);
        if (!edit || resending_) return false;
        const int num = edit->property("Tag").toInt();
        TInputBox* b = box_;
        switch (e->type()) {
            case QEvent::FocusIn:
                if (b->OnEnter) b->OnEnter(b, num);
                break;
            case QEvent::FocusOut:
                if (b->OnExit) b->OnExit(b, num);
                break;
            case QEvent::KeyPress: {
                auto* k = static_cast<QKeyEvent*>(e);
                std::optional<QKeyEvent> by_key_down, by_key_press;
                if (b->OnKeyDown) {
                    const uint16_t original = VirtualKeyOf(k->key());
                    uint16_t key = original;
                    b->OnKeyDown(b, num, key, ShiftOf(k->modifiers()));
                    if (key != original) {
                        if (key == 0) return true;  // the handler took the key away
                        by_key_down.emplace(QEvent::KeyPress, QtKeyOf(key), k->modifiers(),
                                            TextOfKey(key, k->modifiers()));
                        k = &*by_key_down;
                    }
                    // A key without a code of its own ("@", a non-Latin letter) comes with 0
                    // and goes on unchanged unless the handler gave it one.
                }
                if (b->OnKeyPress && !k->text().isEmpty()) {
                    char32_t ch = k->text().toUcs4().value(0);
                    char32_t before = ch;
                    b->OnKeyPress(b, num, ch);
                    if (ch == 0) return true;
                    if (ch != before) {
                        by_key_press.emplace(QEvent::KeyPress, 0, k->modifiers(),
                                             QString::fromUcs4(&ch, 1));
                        k = &*by_key_press;
                    }
                }
                if (k != e) {
                    Resend(edit, k);
                    return true;
                }
                break;
            }
            case QEvent::KeyRelease: {
                auto* k = static_cast<QKeyEvent*>(e);
                if (b->OnKeyUp) {
                    const uint16_t original = VirtualKeyOf(k->key());
                    uint16_t key = original;
                    b->OnKeyUp(b, num, key, ShiftOf(k->modifiers()));
                    if (key != original) {
                        if (key == 0) return true;
                        QKeyEvent changed(QEvent::KeyRelease, QtKeyOf(key), k->modifiers(),
                                          TextOfKey(key, k->modifiers()));
                        Resend(edit, &changed);
                        return true;
                    }
                }
                break;
            }
            case QEvent::MouseButtonPress: {
                auto* m = static_cast<QMouseEvent*>(e);
                if (b->OnMouseDown)
                    b->OnMouseDown(b, num, ButtonOf(m->button()),
                                   ShiftOf(m->modifiers(), m->buttons()),
                                   m->position().toPoint().x(), m->position().toPoint().y());
                break;
            }
            case QEvent::MouseButtonRelease: {
                auto* m = static_cast<QMouseEvent*>(e);
                if (b->OnMouseUp)
                    b->OnMouseUp(b, num, ButtonOf(m->button()),
                                 ShiftOf(m->modifiers(), m->buttons()), m->position().toPoint().x(),
                                 m->position().toPoint().y());
                if (m->button() == Qt::LeftButton && b->OnClick) b->OnClick(b, num);
                break;
            }
            case QEvent::MouseButtonDblClick:
                if (b->OnDblClick) b->OnDblClick(b, num);
                break;
            case QEvent::MouseMove: {
                auto* m = static_cast<QMouseEvent*>(e);
                if (b->OnMouseMove)
                    b->OnMouseMove(b, num, ShiftOf(m->modifiers(), m->buttons()),
                                   m->position().toPoint().x(), m->position().toPoint().y());
                break;
            }
            default:
                break;
        }
        return false;
    }

private:
    // The editor goes on with a key a handler changed; the handlers have seen it already.
    void Resend(TMaskEdit* edit, QKeyEvent* changed) {
        resending_ = true;
        QCoreApplication::sendEvent(edit, changed);
        resending_ = false;
    }

    TInputBox* box_;
    bool resending_ = false;
};

// The dialog: OK and Cancel close it; Escape and the close box count as Cancel.
class InputDialog : public QDialog {
public:
    using QDialog::QDialog;
    std::function<void()> on_cancel;
    std::function<void()> on_show;

    void reject() override {
        if (on_cancel) on_cancel();
        QDialog::reject();
    }

protected:
    void showEvent(QShowEvent* e) override {
        QDialog::showEvent(e);
        if (on_show) on_show();
    }
};

TInputBox::TInputBox(TComponent* owner)
    : TComponent(owner), filter_(std::make_unique<Filter>(this)) {}
TInputBox::~TInputBox() = default;

std::string TInputBox::Text(int n) const {
    const size_t i = static_cast<size_t>(n - 1);
    if (open_ && edits_.at(i)) return edits_[i]->Text();
    return texts_.at(i);
}

void TInputBox::SetText(int n, const std::string& v) {
    const size_t i = static_cast<size_t>(n - 1);
    texts_.at(i) = v;
    if (open_ && edits_[i]) edits_[i]->SetText(v);
}

void TInputBox::SetNote(int n, const std::string& v) {
    const size_t i = static_cast<size_t>(n - 1);
    notes_.at(i) = v;
    if (open_ && note_labels_[i]) note_labels_[i]->setText(QString::fromStdString(v));
}

void TInputBox::SetNoteColor(int n, uint32_t c) {
    const size_t i = static_cast<size_t>(n - 1);
    note_colors_.at(i) = c;
    if (open_ && note_labels_[i]) {
        QPalette pal = note_labels_[i]->palette();
        pal.setColor(QPalette::WindowText, TCBitBtn::ColorOf(c, pal));
        note_labels_[i]->setPalette(pal);
    }
}

void TInputBox::SetStatusText(const std::string& v) {
    status_text_ = v;
    if (open_ && status_) status_->showMessage(QString::fromStdString(v));
}

TMaskEdit* TInputBox::Edits(int n) const {
    return open_ && n >= 1 && n <= 4 ? edits_[static_cast<size_t>(n - 1)] : nullptr;
}
QLabel* TInputBox::RowLabel(int n) const {
    return open_ ? labels_.at(static_cast<size_t>(n - 1)) : nullptr;
}
QLabel* TInputBox::NoteLabel(int n) const {
    return open_ ? note_labels_.at(static_cast<size_t>(n - 1)) : nullptr;
}

void TInputBox::Build() {
    auto* dialog =
        new InputDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dialog_ = dialog;
    dialog->setWindowTitle(QString::fromStdString(Caption));
    QFont font(QString::fromUtf8(kDialogFace));
    font.setPointSize(12);
    dialog->setFont(font);
    dialog->on_cancel = [this] { accepted_ = false; };
    dialog->on_show = [this] {
        if (OnShow) OnShow(this);
    };
    width_ = 320;
    height_ = 240;

    // Label pass: rows keep the place of their number.
    int w = 0;
    for (int n = 1; n <= 4; ++n) {
        const size_t i = static_cast<size_t>(n - 1);
        labels_[i] = nullptr;
        edits_[i] = nullptr;
        if (Labels[i].empty()) continue;
        auto* label = new QLabel(QString::fromStdString(Labels[i]), dialog);
        label->setObjectName(QString("Lab%1").arg(n));
        label->adjustSize();
        label->move(label->x(), 12 + 30 * (n - 1));
        labels_[i] = label;
        w = std::max(w, label->width());
    }
    // Editor pass: labels end on one right edge, editors start 5 pixels after it.
    for (int n = 1; n <= 4; ++n) {
        const size_t i = static_cast<size_t>(n - 1);
        if (!labels_[i]) continue;
        labels_[i]->move(w + 10 - labels_[i]->width(), labels_[i]->y());
        auto* edit = new TMaskEdit(dialog);
        edit->setObjectName(QString("Edit%1").arg(n));
        edit->SetEditMask(Masks[i]);
        edit->setProperty("Tag", n);
        edit->SetText(texts_[i]);
        edit->setGeometry(w + 15, 10 + 30 * (n - 1), EditWidth, edit->sizeHint().height());
        height_ = edit->y() + 100;
        edits_[i] = edit;
        ForwardEvents(edit, n);
    }
    width_ = w + EditWidth + 50;

    for (int n = 1; n <= 2; ++n) {
        const size_t i = static_cast<size_t>(n - 1);
        note_labels_[i] = nullptr;
        if (notes_[i].empty()) continue;
        auto* note = new QLabel(QString::fromStdString(notes_[i]), dialog);
        note->setObjectName(QString("NoteLabel%1").arg(n));
        note->adjustSize();
        note->move(10, height_ - 60);
        if (note->width() > width_ - 20) width_ = note->width() + 20;
        note->resize(width_ - 20, note->height());
        note_labels_[i] = note;
        SetNoteColor(n, note_colors_[i]);  // the dialog is open from here on
        height_ += 25;
    }

    auto make_button = [&](const char* name, const char* caption, QStyle::StandardPixmap glyph) {
        auto* b = new TCBitBtn(dialog);
        b->setObjectName(name);
        b->SetFocusType(fsEllipse);
        b->SetFocusColor(65280);
        b->setText(caption);
        b->setIcon(dialog->style()->standardIcon(glyph));
        b->setIconSize(QSize(18, 18));
        return b;
    };
    ok_ = make_button("OkButton", "OK", QStyle::SP_DialogOkButton);
    ok_->setGeometry((width_ - 150) / 3, height_ - 60, 75, 25);
    QObject::connect(ok_, &QPushButton::clicked, dialog, [this, dialog] {
        accepted_ = true;
        dialog->done(QDialog::Accepted);
    });
    cancel_ = make_button("CancelButton", "Cancel", QStyle::SP_DialogCancelButton);
    cancel_->setGeometry(width_ - 75 - (width_ - 150) / 3, height_ - 60, 75, 25);
    QObject::connect(cancel_, &QPushButton::clicked, dialog, [dialog] { dialog->reject(); });

    status_ = nullptr;
    if (StatusEnabled) {
        status_ = new QStatusBar(dialog);
        status_->setObjectName("StatusBar1");
        status_->setSizeGripEnabled(false);
        status_->setFont(QGuiApplication::font());  // the status bar keeps the system font
        status_->showMessage(QString::fromStdString(status_text_));
        status_->setGeometry(0, height_, width_, 19);
        height_ += 19;
    }
    // The computed sizes are the outer window; the client area is what remains inside the frame
    // (none offscreen or without a window manager).
    dialog->setFixedSize(width_, height_);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        dialog->move(screen->availableGeometry().center() - QPoint(width_ / 2, height_ / 2));
}

void TInputBox::ForwardEvents(TMaskEdit* edit, int num) {
    edit->installEventFilter(filter_.get());
    QObject::connect(edit, &TMaskEdit::Changed, edit, [this, num] {
        if (OnChange) OnChange(this, num);
    });
}

void TInputBox::Execute() {
    open_ = true;
    accepted_ = false;  // the close box counts as Cancel, never as a previous OK
    Build();
    if (RunModal)
        RunModal(dialog_);
    else
        dialog_->exec();
    for (int n = 1; n <= 4; ++n) {
        const size_t i = static_cast<size_t>(n - 1);
        if (edits_[i]) texts_[i] = edits_[i]->Text();
    }
    delete dialog_;
    dialog_ = nullptr;
    labels_ = {};
    edits_ = {};
    note_labels_ = {};
    ok_ = cancel_ = nullptr;
    status_ = nullptr;
    open_ = false;
}

}  // namespace qv
