#pragma once

#include <windows.h>

#include <cstring>

namespace gui::win32 {

// A dialog template without controls, caption or font: the window gets its size, font,
// caption and controls when it is initialised.
struct EmptyTemplate {
    alignas(4) WORD words[12]{};
    EmptyTemplate(DWORD style, DWORD exStyle) {
        static_assert(sizeof(DLGTEMPLATE) == 18, "DLGTEMPLATE is packed");
        DLGTEMPLATE head{};
        head.style = style;
        head.dwExtendedStyle = exStyle;
        std::memcpy(words, &head, sizeof head);
        // words[9..11]: no menu, the dialog class, no caption.
    }
    const DLGTEMPLATE *Get() const { return reinterpret_cast<const DLGTEMPLATE *>(words); }
};

} // namespace gui::win32
