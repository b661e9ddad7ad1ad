#pragma once

#include "gui/Controls.h"
#include "gui/PlainText.h"

#include <FL/Enumerations.H>

class Fl_Widget;
class Fl_Window;

namespace gui::fltk {

// For a window's handle(), given every event: an Enter key press presses the window's focused
// button, once for each press (the repeats of a held key are used up without pressing
// anything). True when the event was used.
bool EnterPressesFocusedButton(Fl_Window *window, int event);

// Creates the widget of `control` inside the current group, from the control's state, with
// text of `size`, and connects its callbacks to the control. A label's accelerator focuses
// `focusTarget`.
Fl_Widget *CreateWidget(Control &control, Fl_Widget *focusTarget, Fl_Fontsize size);
// Creates the frame and the title of a group box (before the controls inside it).
void CreateGroupFrame(GroupBox &group, Fl_Fontsize size);
// Brings one property of the widget up to date with the control's state.
void ApplyProperty(Control &control, Fl_Widget &widget, Property what);

} // namespace gui::fltk
