#include "platform/win32/Text.h"

#include <windows.h>

#include <cwchar>

namespace platform::win32 {

// Without MB_ERR_INVALID_CHARS and WC_ERR_INVALID_CHARS the conversions replace what is
// invalid with U+FFFD instead of failing.
std::wstring Widen(const std::string &text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    return wide;
}

std::string Narrow(const wchar_t *text, std::size_t length) {
    if (!text || length == 0)
        return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string narrow(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

std::string Narrow(const wchar_t *text) {
    return text ? Narrow(text, std::wcslen(text)) : std::string();
}

} // namespace platform::win32
