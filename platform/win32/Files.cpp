#include "platform/Files.h"

#include "platform/win32/Errors.h"
#include "platform/win32/Text.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace platform {

bool PathExists(const std::string &path) {
    return GetFileAttributesW(win32::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string &path) {
    const DWORD attributes = GetFileAttributesW(win32::Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const std::string &path) {
    return DeleteFileW(win32::Widen(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::string CurrentDirectory() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH ? win32::Narrow(buffer, length) : "";
}

bool SetModificationTime(const std::string &path, int64_t unixSeconds) {
    HANDLE file = CreateFileW(win32::Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
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
    if (CopyFileW(win32::Widen(from).c_str(), win32::Widen(to).c_str(), FALSE))
        return 0;
    return win32::ErrnoFromSystemError(GetLastError());
}

namespace {

// The most one ReadFile or WriteFile is given (they count in a DWORD).
constexpr size_t kMaxTransfer = size_t{1} << 30;
// Names tried for the replacement of a file before giving up; the longest part of the file's
// name that goes into them.
constexpr int kNameAttempts = 100;
constexpr size_t kNamePartInTemporary = 200;
// A replacement refused because somebody has the file open (a reader, a virus scanner) is
// tried again: this many times, this far apart (about 50 ms in all).
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplaceRetryMilliseconds = 5;

// A part of a name that differs between the calls of every thread and process now; CREATE_NEW
// decides, this only keeps its refusals rare.
std::string UniquePart() {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    char part[40];
    std::snprintf(part, sizeof part, "%lx-%x-%llx", GetCurrentProcessId(), ++counter,
                  static_cast<unsigned long long>(ticks.QuadPart) & 0xffffffu);
    return part;
}

// The errno value of a failed open of `path`: a folder gives ERROR_ACCESS_DENIED unless it is
// opened as one, which is EISDIR here.
int OpenErrno(const std::string &path, DWORD code) {
    if (code == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(win32::Widen(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return EISDIR;
    }
    return win32::ErrnoFromSystemError(code);
}

// Writes all `size` bytes at the handle's file pointer; 0 or the errno value.
int WriteAll(HANDLE file, const char *data, size_t size) {
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
        DWORD wrote = 0;
        if (!WriteFile(file, data, part, &wrote, nullptr))
            return win32::ErrnoFromSystemError(GetLastError());
        if (wrote == 0)
            return EIO; // no progress and no reason: do not spin
        data += wrote;
        size -= wrote;
    }
    return 0;
}

} // namespace

bool FileHeld(const std::string &path) {
    const DWORD attributes = GetFileAttributesW(win32::Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    // Sharing nothing, this open conflicts with every handle that reads, writes or deletes the
    // file: a holder's (or another program's: then the file is in use all the same).
    HANDLE file = CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD code = GetLastError();
    // Access refused: somebody else's file, to be left alone.
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

int ReplaceFileContents(const std::string &path, const std::string &bytes) {
    const size_t end = path.find_last_of("\\/");
    const std::string folder = end == std::string::npos ? "" : path.substr(0, end + 1);
    const std::string name = path.substr(folder.size());
    if (name.empty())
        return path.empty() ? ENOENT : EISDIR;
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kNameAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folder + name.substr(0, kNamePartInTemporary) + "." + UniquePart() + ".new";
        // CREATE_NEW: exclusively, never through a name that exists.
        file = CreateFileW(win32::Widen(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return win32::ErrnoFromSystemError(GetLastError());
    }
    if (file == INVALID_HANDLE_VALUE)
        return EEXIST;
    int error = WriteAll(file, bytes.data(), bytes.size());
    if (error == 0 && !FlushFileBuffers(file))
        error = win32::ErrnoFromSystemError(GetLastError());
    if (!CloseHandle(file) && error == 0)
        error = win32::ErrnoFromSystemError(GetLastError());
    // MOVEFILE_WRITE_THROUGH: returns once the rename itself is on the disk. A file that is
    // open, even by a reader sharing its deletion, cannot be replaced (ERROR_ACCESS_DENIED,
    // under wine too); readers keep it for a moment only.
    for (int attempt = 1; error == 0; ++attempt) {
        if (MoveFileExW(win32::Widen(temporary).c_str(), win32::Widen(path).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        const DWORD code = GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) ||
            attempt == kReplaceAttempts || IsDirectory(path))
            error = OpenErrno(path, code);
        else
            Sleep(kReplaceRetryMilliseconds);
    }
    if (error != 0)
        DeleteFileW(win32::Widen(temporary).c_str());
    return error;
}

int ReadFileUpTo(const std::string &path, size_t limit, std::string &bytes) {
    bytes.clear();
    // Sharing everything: a reader never stands in the way of a replacement.
    HANDLE file =
        CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return OpenErrno(path, GetLastError());
    int error = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK)
        error = EINVAL; // a device or a pipe
    else if (!GetFileInformationByHandle(file, &info))
        error = win32::ErrnoFromSystemError(GetLastError());
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        error = ELOOP;
    else if (((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) > limit)
        error = EFBIG;
    // Read to the end, not to the length seen above: the file may have grown since; one byte
    // beyond `limit` is enough to know that it is too long.
    constexpr size_t kBlock = 65536;
    char block[kBlock];
    while (error == 0) {
        const size_t left = limit - bytes.size();
        DWORD got = 0;
        if (!ReadFile(file, block, static_cast<DWORD>(left < kBlock ? left + 1 : kBlock), &got,
                      nullptr))
            error = win32::ErrnoFromSystemError(GetLastError());
        else if (got == 0)
            break;
        else if (got > left)
            error = EFBIG;
        else
            bytes.append(block, got);
    }
    CloseHandle(file);
    if (error != 0)
        bytes.clear();
    return error;
}

std::vector<FolderEntry> RegularFilesIn(const std::string &directory) {
    std::vector<FolderEntry> files;
    const std::wstring folder = win32::Widen(directory);
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return files;
    do {
        // "." and ".." are folders; a reparse point is a link or something mounted.
        if (data.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
            continue;
        // A name UTF-8 cannot carry (an unpaired surrogate) comes back with U+FFFD in it: no
        // file of ours.
        std::string name = win32::Narrow(data.cFileName);
        if (win32::Widen(name) != data.cFileName)
            continue;
        // 100-nanosecond steps since 1601.
        const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
        const int64_t seconds = static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
        files.push_back({std::move(name), seconds});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

} // namespace platform
