#pragma once
// TInputBox: builds, shows modally and destroys a small dialog of up to four labelled input
// rows, two note lines, OK and Cancel, and an optional status bar.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Component.h"

class QDialog;
class QLabel;
class QStatusBar;

namespace qv {

class TMaskEdit;
class TCBitBtn;

// Modifier and button states of key and mouse events.
enum TShiftFlag : int {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64
};
enum class TInputMouseButton { mbLeft, mbRight, mbMiddle };

class TInputBox : public TComponent {
public:
    using TInputEvent = std::function<void(TInputBox* sender, int num)>;
    using TInputKeyEvent =
        std::function<void(TInputBox* sender, int num, uint16_t& key, int shift)>;
    using TInputKeyPressEvent = std::function<void(TInputBox* sender, int num, char32_t& key)>;
    using TInputMouseEvent = std::function<void(TInputBox* sender, int num,
                                                TInputMouseButton button, int shift, int x, int y)>;
    using TInputMouseMoveEvent =
        std::function<void(TInputBox* sender, int num, int shift, int x, int y)>;
    using TNotifyEvent = std::function<void(TInputBox* sender)>;

    explicit TInputBox(TComponent* owner);
    ~TInputBox() override;

    std::string Caption;
    std::array<std::string, 4> Labels;  // Label1..Label4
    std::array<std::string, 4> Masks;   // Mask1..Mask4 (the VCL mask notation)
    int EditWidth = 120;
    bool StatusEnabled = false;

    const std::string& Label(int n) const { return Labels.at(static_cast<size_t>(n - 1)); }
    void SetLabel(int n, std::string v) { Labels.at(static_cast<size_t>(n - 1)) = std::move(v); }
    std::string Text(int n) const;
    void SetText(int n, const std::string& v);
    const std::string& Note(int n) const { return notes_.at(static_cast<size_t>(n - 1)); }
    void SetNote(int n, const std::string& v);
    uint32_t NoteColor(int n) const { return note_colors_.at(static_cast<size_t>(n - 1)); }
    void SetNoteColor(int n, uint32_t bbggrr);
    const std::string& StatusText() const { return status_text_; }
    void SetStatusText(const std::string& v);

    TNotifyEvent OnShow;
    TInputEvent OnEnter, OnExit, OnChange, OnClick, OnDblClick;
    TInputKeyEvent OnKeyDown, OnKeyUp;
    TInputKeyPressEvent OnKeyPress;
    TInputMouseEvent OnMouseDown, OnMouseUp;
    TInputMouseMoveEvent OnMouseMove;

    // Builds the dialog, shows it modally, copies the row texts back, destroys it.
    void Execute();
    bool Accepted() const { return accepted_; }
    // The editor of row n while the dialog is open; null otherwise or for a missing row.
    TMaskEdit* Edits(int n) const;

    // While open: the dialog and its parts, for the handlers and for tests.
    QDialog* Dialog() const { return dialog_; }
    QLabel* RowLabel(int n) const;
    QLabel* NoteLabel(int n) const;
    TCBitBtn* OkButton() const { return ok_; }
    TCBitBtn* CancelButton() const { return cancel_; }
    QStatusBar* StatusBar() const { return status_; }
    bool IsOpen() const { return open_; }
    // The outer size the dialog was laid out for (frame and title included).
    int DialogWidth() const { return width_; }
    int DialogHeight() const { return height_; }

    // Runs the modal loop; tests replace it to act on the open dialog and close it.
    std::function<void(QDialog*)> RunModal;

private:
    class Filter;
    void Build();
    void ForwardEvents(TMaskEdit* edit, int num);

    std::array<std::string, 4> texts_;
    std::array<std::string, 2> notes_;
    std::array<uint32_t, 2> note_colors_{0xFF0000, 0xFF0000};
    std::string status_text_;
    bool accepted_ = false;
    bool open_ = false;
    QDialog* dialog_ = nullptr;
    std::array<QLabel*, 4> labels_{};
    std::array<TMaskEdit*, 4> edits_{};
    std::array<QLabel*, 2> note_labels_{};
    TCBitBtn* ok_ = nullptr;
    TCBitBtn* cancel_ = nullptr;
    QStatusBar* status_ = nullptr;
    int width_ = 320, height_ = 240;
    std::unique_ptr<Filter> filter_;
};

// Windows virtual-key code of a Qt key (0 when there is none).
uint16_t VirtualKeyOf(int qt_key);
// The Qt key of a virtual-key code (Qt::Key_unknown when there is none).
int QtKeyOf(uint16_t vk);

}  // namespace qv
