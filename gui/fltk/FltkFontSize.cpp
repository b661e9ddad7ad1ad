#include "gui/fltk/FltkFontSize.h"

#include "gui/LayoutFit.h"
#include "gui/Form.h"

#include <FL/fl_draw.H>

#include <cmath>

namespace gui::fltk {
namespace {

constexpr Fl_Fontsize kSmallestFontSize = 9;

// Whether the control's caption fits inside it at `size`. Plain labels always do: they
// shorten a long text when drawing it; a group's title check box is sized to its caption.
bool CaptionFits(const Control &control, Fl_Fontsize size) {
    const int width = control.Place().width;
    switch (control.Kind()) {
    case ControlKind::CheckBox:
        return IsTitleCheckBox(control) || CheckBoxWidth(control.Caption(), size) <= width;
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
            fits = fits && CaptionFits(*control, size);
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

int CaptionWidth(const Control &control) {
    // FLTK keeps 3 pixels free at each side of a caption drawn inside its widget; a check box
    // takes 4 more after its caption.
    const CaptionRoom room{16, 6, kFontSize + 8, 20, 26};
    return NeededCaptionWidth(
        control, [](const std::string &text) { return TextWidth(text, kFontSize); }, room);
}

} // namespace gui::fltk
