#include "controls/MaskEdit.h"

namespace qv {

TMaskEdit::TMaskEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this] { emit Changed(); });
}

void TMaskEdit::SetEditMask(const std::string& vcl_mask) {
    mask_ = EditMask(vcl_mask);
    setInputMask(QString::fromStdString(mask_.QtMask()));
    if (!mask_.Empty()) setMaxLength(static_cast<int>(mask_.Positions().size()));
}

std::string TMaskEdit::Text() const {
    if (mask_.Empty()) return text().toStdString();
    return mask_.TextFromDisplay(displayText().toStdString());
}

void TMaskEdit::SetText(const std::string& text) {
    if (mask_.Empty()) {
        setText(QString::fromStdString(text));
        return;
    }
    std::string display = mask_.DisplayFromText(text);
    setText(QString::fromStdString(display));
}

}  // namespace qv
