#pragma once

#include <FL/Enumerations.H>

namespace gui::fltk {

// A label type that draws its text literally: no "@" symbols and no "&" underlines. A
// single-line text wider than its place is drawn shortened in the middle ("start...end"),
// measured again at every draw, so the widget keeps the whole text.
Fl_Labeltype PlainLabel();

// A flat box that keeps its colour when its widget is disabled: a disabled check box shows
// greyed text on the window's background rather than on a grey block.
Fl_Boxtype SteadyFlatBox();

} // namespace gui::fltk
