#pragma once

#include <windows.h>

#include <string>

namespace gui::win32 {

// Message boxes for texts longer than the system's box shows well: wine's wraps them at about
// 350 pixels and grows taller than the screen, with its first lines and its OK button out of
// reach. Such a text goes into a dialog of the program's own: a read-only text field of a
// normal dialog's width (560 pixels of text at 96 DPI) that scrolls when the text is taller
// than fits in about 70 % of the work area, and the box's buttons below it at the right.

// True when `text` (lines ended with LF) is short enough for the system's box over `owner`
// (nullptr: on the primary monitor): wrapped at the long box's width in the message font, it
// takes at most a third of the work area's height.
bool FitsMessageBox(HWND owner, const std::string &text);

// Shows `text` (lines ended with LF) with `caption` modally over `owner` (nullptr: in the
// middle of the primary monitor's work area), with the buttons of MB_OK, MB_YESNO or
// MB_YESNOCANCEL in `type` (Yes and No with the access keys Y and N, also without Alt).
// Returns when a button was pressed or the dialog was ended (EndDialog): the button's id as
// MessageBoxW returns it, IDCANCEL for Escape and the close box, else the value it was ended
// with. Where the dialog cannot be created the system's box shows the text.
int LongMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type);

} // namespace gui::win32
