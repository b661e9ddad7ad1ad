#pragma once

#include <windows.h>

namespace gui::win32 {

// The layout is written for 96 dots per inch; these scale it to a window's monitor. The
// system's per-monitor functions are looked up when the program starts, so that the program
// still runs on systems that lack them (their DPI is then the screen's).
UINT WindowDpi(HWND window);
inline int Scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}
// The window size (frame and caption included) for a client area of width x height at `dpi`.
SIZE WindowSizeFor(int width, int height, DWORD style, DWORD exStyle, UINT dpi);
// A system metric (icon sizes) at `dpi`.
int MetricForDpi(int index, UINT dpi);
// The window relays its controls out itself when its monitor's DPI changes: the system's own
// rescaling of dialogs would move them a second time.
void KeepDialogLayoutOwn(HWND dialog);
// The form font, 8 points (11 pixels at 96 DPI) at `dpi`: "MS Sans Serif" at 96 DPI in
// English, where its bitmap faces are drawn for; its scalable successor "Microsoft Sans Serif"
// at other resolutions and in other languages. A caption that does not fit its control gets a
// smaller one.
constexpr int kFormFontPixels = 11;
constexpr int kSmallestFontPixels = 9;
HFONT CreateFormFont(UINT dpi, int pixelsAt96 = kFormFontPixels);
// The system's message box font (NONCLIENTMETRICS lfMessageFont) at `dpi`; the form font
// where the system does not say.
HFONT CreateMessageFont(UINT dpi);

} // namespace gui::win32
