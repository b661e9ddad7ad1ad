#include "platform/PlainFile.h"
#include "platform/win32/Errors.h"
#include "platform/win32/PlainFile.h"
#include "platform/win32/Text.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>

namespace platform {
namespace win32 {

HANDLE OpenPlainFile(const std::string &path, bool read, bool soleName, int &error) {
    // The reparse point itself is opened, never what it points to.
    const std::wstring name = Widen(path);
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE | (read ? GENERIC_READ : 0),
                              FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A folder under the name cannot be opened for writing.
        const DWORD attributes = GetFileAttributesW(name.c_str());
        error = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                    ? EPERM
                    : ErrnoFromSystemError(code);
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    const bool known = disk && GetFileInformationByHandle(file, &info);
    if (!known || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY |
                                            FILE_ATTRIBUTE_REPARSE_POINT)) ||
        (soleName && info.nNumberOfLinks > 1)) {
        error = known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ELOOP : EPERM;
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

} // namespace win32

std::FILE *CreatePlainFile(const std::string &path, int &error, bool &notPlain) {
    notPlain = false;
    HANDLE file = win32::OpenPlainFile(path, true, true, error);
    if (file == INVALID_HANDLE_VALUE) {
        notPlain = error == ELOOP || error == EPERM;
        return nullptr;
    }
    if (!SetEndOfFile(file)) {
        error = win32::ErrnoFromSystemError(GetLastError());
        CloseHandle(file);
        return nullptr;
    }
    // The C runtime takes the handle over: closing the stream closes it.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        error = EMFILE;
        CloseHandle(file);
        return nullptr;
    }
    std::FILE *stream = _fdopen(fd, "w+b");
    if (!stream) {
        error = errno;
        _close(fd);
        return nullptr;
    }
    std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

std::FILE *OpenFileForReading(const std::string &path) {
    // The C runtime's fopen takes names in the ANSI code page.
    return _wfopen(win32::Widen(path).c_str(), L"rb");
}

} // namespace platform
