#pragma once
// A masked edit with the VCL mask notation and its Text.
#include <QLineEdit>

#include "controls/EditMask.h"

namespace qv {

class TMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TMaskEdit(QWidget* parent = nullptr);

    void SetEditMask(const std::string& vcl_mask);
    const EditMask& Mask() const { return mask_; }
    // The text as the VCL control reports it (for "!90:00;0;_": digits only, blanks dropped).
    std::string Text() const;
    void SetText(const std::string& text);

signals:
    // Emitted for every change of Text, also one made by the program.
    void Changed();

private:
    EditMask mask_;
};

}  // namespace qv
