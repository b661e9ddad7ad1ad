#pragma once

// Text between the program's strings (the system's ANSI code page, as its paths and command
// line are) and the UTF-16 of the system's wide interfaces.

#include <string>

namespace platform::win32 {

// `text` as UTF-16; "" when it is not valid in the ANSI code page.
std::wstring Widen(const std::string &text);
// A NUL-terminated UTF-16 text in the ANSI code page (characters it lacks become "?"); ""
// for nullptr.
std::string Narrow(const wchar_t *text);

} // namespace platform::win32
