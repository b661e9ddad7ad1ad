#include "platform/win32/Text.h"

#include <windows.h>

namespace platform::win32 {

std::wstring Widen(const std::string &text) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                            static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const wchar_t *text) {
    if (!text)
        return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

} // namespace platform::win32
