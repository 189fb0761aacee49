#include "controls/EditMask.h"

#include <gtest/gtest.h>

#include "controls/MaskEdit.h"

namespace qv {
namespace {

TEST(EditMaskNotation, TimeMaskOfTheMainWindow) {
    EditMask m("!90:00;0;_");
    EXPECT_EQ(m.QtMask(), "09:99;_");  // VCL 9 optional -> Qt 0, VCL 0 required -> Qt 9
    EXPECT_TRUE(m.LeadingBlanks());
    EXPECT_FALSE(m.SaveLiterals());
    EXPECT_EQ(m.TextFromDisplay("08:30"), "0830");
    EXPECT_EQ(m.TextFromDisplay("_8:30"), "830");
    EXPECT_EQ(m.TextFromDisplay(" 8:30"), "830");
    EXPECT_EQ(m.DisplayFromText("0830"), "08:30");
    EXPECT_EQ(m.DisplayFromText("830"), "_8:30");  // optional characters as leading blanks
    EXPECT_EQ(m.DisplayFromText("2400"), "24:00");
}

TEST(EditMaskNotation, OtherCharactersLiteralsAndSavedLiterals) {
    EditMask m("LLl-\\A#;1;*");
    EXPECT_EQ(m.QtMask(), "AAa-\\A#;*");
    EXPECT_TRUE(m.SaveLiterals());
    EXPECT_EQ(m.TextFromDisplay("AB*-A5"), "AB-A5");
    EXPECT_EQ(EditMask("").QtMask(), "");
}

TEST(MaskEditWidget, TextRoundTripsThroughTheQtMask) {
    TMaskEdit e;
    e.SetEditMask("!90:00;0;_");
    e.SetText("0830");
    EXPECT_EQ(e.Text(), "0830");
    e.SetText("830");
    EXPECT_EQ(e.Text(), "830");
    e.SetText("");
    EXPECT_EQ(e.Text(), "");
    TMaskEdit free;
    free.SetText("any text");
    EXPECT_EQ(free.Text(), "any text");
}

}  // namespace
}  // namespace qv
