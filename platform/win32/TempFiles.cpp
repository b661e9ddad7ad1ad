#include "platform/TempFiles.h"

#include "platform/win32/Text.h"

#include <windows.h>

#include <atomic>

namespace platform {

std::string AskTempDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return "C:\\";
    std::string directory = win32::Narrow(buffer, length);
    if (directory.back() != '\\')
        directory += '\\';
    return directory;
}

namespace {

std::string CurrentDayNumberText() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::tm local{};
    local.tm_year = now.wYear - 1900;
    local.tm_mon = now.wMonth - 1;
    local.tm_mday = now.wDay;
    local.tm_hour = now.wHour;
    local.tm_min = now.wMinute;
    local.tm_sec = now.wSecond;
    return DayNumberText(local, now.wMilliseconds);
}

} // namespace

std::string NewTempFileName() {
    // GetTempFileNameW makes the file "tlvXXXX.tmp" itself, with a number no other file of
    // the folder has.
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(win32::Widen(TempDirectory()).c_str(), L"tlv", 0, name) != 0)
        return win32::Narrow(name);
    // No file can be made there: a name of the date and time, which the first write then
    // creates in the current folder. The process and a counter keep the names of workers
    // asking in the same millisecond apart.
    static std::atomic<unsigned> counter{0};
    return CurrentDayNumberText() + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

} // namespace platform
