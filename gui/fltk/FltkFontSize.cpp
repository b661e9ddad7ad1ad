#include "gui/fltk/FltkFontSize.h"

#include "gui/Form.h"

#include <FL/fl_draw.H>

#include <cmath>

namespace gui::fltk {

namespace {

constexpr Fl_Fontsize kSmallestFontSize = 9;

bool IsTitleCheckBox(const Form &form, const Control &control) {
    for (const auto &other : form.Controls())
        if (other->Kind() == ControlKind::GroupBox &&
            static_cast<const GroupBox &>(*other).TitleCheckBox() == &control)
            return true;
    return false;
}

// Whether the control's caption fits inside it at `size`. Plain labels always do: they
// shorten a long text when drawing it; a group's title check box is sized to its caption.
bool CaptionFits(const Form &form, const Control &control, Fl_Fontsize size) {
    const int width = control.Place().width;
    switch (control.Kind()) {
    case ControlKind::CheckBox:
        return IsTitleCheckBox(form, control) || CheckBoxWidth(control.Caption(), size) <= width;
    case ControlKind::Button:
    case ControlKind::Label:
        // FLTK keeps 3 pixels free at each side of a caption drawn inside its widget.
        return IsPlainLabel(control) ||
               TextWidth(StripAccelerator(control.Caption()), size) + 6 <= width;
    default:
        return true;
    }
}

} // namespace

Fl_Fontsize FormFontSize(const Form &form) {
    for (Fl_Fontsize size = kFontSize; size > kSmallestFontSize; --size) {
        bool fits = true;
        for (const auto &control : form.Controls())
            fits = fits && CaptionFits(form, *control, size);
        if (fits)
            return size;
    }
    return kSmallestFontSize;
}

int TextWidth(const std::string &text, Fl_Fontsize size) {
    fl_font(FL_HELVETICA, size);
    return static_cast<int>(std::ceil(fl_width(text.c_str())));
}

int CheckBoxWidth(const std::string &caption, Fl_Fontsize size) {
    // A check button draws its box as wide as the font size, 2 pixels from its left edge and
    // 2 from the caption.
    return size + 4 + TextWidth(StripAccelerator(caption), size);
}

bool IsPlainLabel(const Control &control) {
    return control.Kind() == ControlKind::Label &&
           !static_cast<const Label &>(control).FocusControl();
}

} // namespace gui::fltk
