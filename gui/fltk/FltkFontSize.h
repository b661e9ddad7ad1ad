#pragma once

#include <FL/Enumerations.H>

#include <string>

namespace gui {
class Control;
class Form;
} // namespace gui

namespace gui::fltk {

// The font size of the windows: of every caption, label, text field and message box. Forms
// in another language than English make room for their captions at this size (CaptionWidth).
constexpr Fl_Fontsize kFontSize = 11;

// The one font size of all the form's controls: kFontSize, or a point or two smaller when a
// caption does not fit its control at that size (fonts differ in width from host to host).
Fl_Fontsize FormFontSize(const Form &form);

// The width in pixels of a text as drawn at `size`.
int TextWidth(const std::string &text, Fl_Fontsize size);
// The width in pixels of a check box's caption and its box, at `size`.
int CheckBoxWidth(const std::string &caption, Fl_Fontsize size);
// The width the control needs for its caption at kFontSize (FitCaptions grows it to that).
int CaptionWidth(const Control &control);

} // namespace gui::fltk
