#pragma once

// Text between the program's strings (UTF-8, as on every system) and the UTF-16 of the
// system's interfaces, which the program calls in their wide (W) forms only.

#include <cstddef>
#include <string>

namespace platform::win32 {

// `text` as UTF-16. A byte that starts no valid UTF-8 sequence becomes U+FFFD (never a
// failure): a name read from a server may hold any bytes.
std::wstring Widen(const std::string &text);
// UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD. "" for nullptr.
std::string Narrow(const wchar_t *text);
std::string Narrow(const wchar_t *text, std::size_t length);

} // namespace platform::win32
