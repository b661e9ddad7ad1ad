#pragma once

#include "gui/Controls.h"

#include <windows.h>

namespace gui::win32 {

// The child window of a control: a button, check box or group box ("BUTTON"), an owner-drawn
// label or picture ("STATIC"), an edit, a combo box or the common controls' progress bar,
// created hidden or shown, enabled or not, from the control's state.
HWND CreateControlWindow(Control &control, HWND form, int id, UINT dpi);
// Moves and sizes the window to the control's place at `dpi`.
void PlaceControlWindow(const Control &control, HWND window, UINT dpi);
// Brings one property of the window up to date with the control's state.
void ApplyControlProperty(Control &control, HWND window, Property what);
// A notification of the window (WM_COMMAND's code) passed on to the control's state: a click,
// a check, typing, a choice from a list.
void ControlNotified(Control &control, HWND window, int code);
// Draws a label (an owner-drawn static whose window text stays the whole caption, for screen
// readers): on one line, shortened in the middle with "..." when it is wider than the label.
void DrawLabel(const Label &label, const DRAWITEMSTRUCT &item);
// The width a caption needs in `font` (accelerator marks removed), and the width a check
// box needs for it (box, gap and text).
int CaptionWidth(HWND window, HFONT font, const std::string &caption);
int CheckBoxWidth(HWND window, HFONT font, const std::string &caption);

} // namespace gui::win32
