#pragma once
// The VCL edit-mask notation ("!90:00;0;_"): its positions, the Qt input mask that behaves
// alike, and the Text a masked edit reports. No widgets here.
#include <string>
#include <vector>

namespace qv {

class EditMask {
public:
    explicit EditMask(const std::string& vcl_mask = "");

    struct Position {
        bool input;     // a character the user types (else a literal)
        bool required;  // the user must fill it
        char literal;   // the literal shown, for non-input positions
    };

    const std::vector<Position>& Positions() const { return positions_; }
    bool Empty() const { return positions_.empty(); }
    bool SaveLiterals() const { return save_literals_; }
    char BlankChar() const { return blank_; }
    // "!" in the mask: optional characters missing from a short text are leading blanks.
    bool LeadingBlanks() const { return leading_blanks_; }

    // The Qt input mask with the same positions (Qt's 9 and 0 are the other way round).
    std::string QtMask() const;
    // Text of an edit whose display shows `display` (one character per position, blanks
    // shown as BlankChar): input characters that are not blank, plus the literals when saved.
    std::string TextFromDisplay(const std::string& display) const;
    // The display for a Text set by the program (the reverse of TextFromDisplay).
    std::string DisplayFromText(const std::string& text) const;

private:
    std::vector<Position> positions_;
    std::vector<char> qt_codes_;
    bool save_literals_ = true;
    bool leading_blanks_ = false;
    char blank_ = '_';
};

}  // namespace qv
