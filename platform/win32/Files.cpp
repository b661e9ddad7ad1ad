#include "platform/Files.h"

#include "platform/win32/Errors.h"

#include <windows.h>

namespace platform {

bool PathExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const std::string &path) {
    return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : "";
}

bool SetModificationTime(const std::string &path, int64_t unixSeconds) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // 100-nanosecond steps since 1601.
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME time{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
    const bool set = SetFileTime(file, nullptr, nullptr, &time) != FALSE;
    CloseHandle(file);
    return set;
}

int CopyFileTo(const std::string &from, const std::string &to) {
    if (CopyFileA(from.c_str(), to.c_str(), FALSE))
        return 0;
    return win32::ErrnoFromSystemError(GetLastError());
}

bool FileHeld(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    // Sharing nothing, this open conflicts with every handle that reads, writes or deletes the
    // file: a holder's (or another program's: then the file is in use all the same).
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD code = GetLastError();
    // Access refused: somebody else's file, to be left alone.
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

} // namespace platform
