#include "platform/PositionalFile.h"
#include "platform/win32/Errors.h"
#include "platform/win32/Text.h"

#include <windows.h>
#include <winioctl.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace platform {
namespace {

// Names tried before CreateIn gives up: with 36^8 names a folder would need billions of
// working files before one try in a thousand collided.
constexpr int kNameAttempts = 100;
// The most one ReadFile or WriteFile is given (they count in a DWORD).
constexpr size_t kMaxTransfer = size_t{1} << 30;
// What the working file is open for while it is written, and what others may do meanwhile:
// read it only, and only when they share writing and deleting. The same for a file made and
// one opened again, so that either holds it alike.
constexpr DWORD kWritingAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
constexpr DWORD kWritingShare = FILE_SHARE_READ;
// An open refused only because a FileHeld probe has the file for a moment is tried again:
// this many times, this far apart (about 50 ms in all).
constexpr int kHoldAttempts = 10;
constexpr DWORD kHoldRetryMilliseconds = 5;

HANDLE AsHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

int LastErrno() {
    return win32::ErrnoFromSystemError(GetLastError());
}

// Eight characters of [0-9a-z], mixed from the clock, the process, the thread and a counter:
// names that differ between the threads and processes that ask at the same moment. CREATE_NEW
// decides; this only keeps its refusals rare.
std::string UniquePart() {
    static std::atomic<uint64_t> counter{0};
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    uint64_t bits = static_cast<uint64_t>(ticks.QuadPart) ^
                    (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                    (static_cast<uint64_t>(GetCurrentThreadId()) << 16) ^
                    (++counter * 0x9e3779b97f4a7c15u);
    bits ^= bits >> 31; // spread every input bit over the low digits
    bits *= 0xbf58476d1ce4e5b9u;
    bits ^= bits >> 27;
    bits *= 0x94d049bb133111ebu;
    bits ^= bits >> 31;
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string part(8, '0');
    for (char &c : part) {
        c = digits[bits % 36];
        bits /= 36;
    }
    return part;
}

// The folder part of `path`, with its separator ("" gives the working folder, which
// GetDiskFreeSpaceExW refuses as the empty string).
std::string FolderOf(const std::string &path) {
    const size_t end = path.find_last_of("\\/");
    return end == std::string::npos ? std::string(".\\") : path.substr(0, end + 1);
}

// The space the calling user may still fill on the volume of `folder`, or -1 when the volume
// does not tell.
int64_t FreeBytes(const std::string &folder) {
    ULARGE_INTEGER available{}, total{};
    if (!GetDiskFreeSpaceExW(win32::Widen(folder).c_str(), &available, &total, nullptr) ||
        total.QuadPart == 0)
        return -1;
    constexpr auto most = static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max());
    return static_cast<int64_t>(available.QuadPart > most ? most : available.QuadPart);
}

// Whether the volume holding the file keeps sparse files. Under wine 8 the folders of the
// Unix file system report NTFS without FILE_SUPPORTS_SPARSE_FILES (FSCTL_SET_SPARSE succeeds
// there but sets no attribute); a length set there stays unallocated all the same.
bool SupportsSparse(HANDLE file, const std::string &path) {
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        wchar_t root[MAX_PATH + 1];
        if (!GetVolumePathNameW(win32::Widen(path).c_str(), root, MAX_PATH + 1) ||
            !GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
            return false;
    }
    return (flags & FILE_SUPPORTS_SPARSE_FILES) != 0;
}

// Renames the open file to `path` through its own handle (which has DELETE access), so that
// it stays open. The name is made a full path first, because a relative one is read in two
// ways: wine 8 takes it from the working folder (a bare name too, measured), while the
// system's NtSetInformationFile takes a bare name as one in the file's own folder.
int RenameOpenFile(HANDLE file, const std::string &path, bool replace) {
    const std::wstring wide = win32::Widen(path);
    if (wide.empty())
        return EINVAL;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return LastErrno();
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return length == 0 ? LastErrno() : EINVAL;
    full.resize(length);
    // The structure ends in the name; 8-byte units keep its handle member aligned.
    const size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (full.size() + 1) * sizeof(WCHAR);
    std::vector<uint64_t> buffer((bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(full.size() * sizeof(WCHAR));
    std::memcpy(info->FileName, full.c_str(), (full.size() + 1) * sizeof(WCHAR));
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(bytes))
               ? 0
               : LastErrno();
}

// The OVERLAPPED that gives ReadFile and WriteFile on a synchronous handle their offset: the
// call still waits for its end, and threads do not share a file pointer.
OVERLAPPED At(int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
}

} // namespace

TPositionalFile::~TPositionalFile() {
    Close();
}

int TPositionalFile::CreateIn(const std::string &directory) {
    if (!path_.empty())
        return EBUSY;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = directory + "tlv" + UniquePart() + ".tmp";
        // CREATE_NEW refuses any name that exists, a symbolic link included. While the file
        // is open others may only read it (sharing writing and deleting, which this handle
        // does), not write, rename or delete it.
        HANDLE file = CreateFileW(win32::Widen(candidate).c_str(), kWritingAccess, kWritingShare,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            fd_ = reinterpret_cast<intptr_t>(file);
            path_ = std::move(candidate);
            return 0;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            return win32::ErrnoFromSystemError(code);
    }
    return EEXIST;
}

int TPositionalFile::OpenExisting(const std::string &path) {
    if (!path_.empty())
        return EBUSY;
    if (path.empty())
        return ENOENT;
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself, which is then
    // refused, instead of what it leads to. A sharing violation is a holder: this open asks
    // for writing, which no holder shares, and shares less than any holder's access.
    const std::wstring name = win32::Widen(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 1;; ++attempt) {
        file = CreateFileW(name.c_str(), kWritingAccess, kWritingShare, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            break;
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED) {
            // A folder is refused so, unless opened as one.
            const DWORD attributes = GetFileAttributesW(name.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return EISDIR;
        }
        if (code != ERROR_SHARING_VIOLATION)
            return win32::ErrnoFromSystemError(code);
        if (attempt == kHoldAttempts)
            return EBUSY;
        Sleep(kHoldRetryMilliseconds);
    }
    int error = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK)
        error = EINVAL; // a device or a pipe
    else if (!GetFileInformationByHandle(file, &info))
        error = LastErrno();
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        error = ELOOP;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        error = EISDIR;
    else if (info.nNumberOfLinks != 1)
        error = EPERM; // written in place, another name's file would change too
    if (error != 0) {
        CloseHandle(file);
        return error;
    }
    fd_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    return 0;
}

int TPositionalFile::Reserve(int64_t size, int64_t &freeBytes) {
    freeBytes = -1;
    if (fd_ == -1)
        return EBADF;
    if (size < 0)
        return EINVAL;
    HANDLE file = AsHandle(fd_);
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return LastErrno();
    const int64_t allocated = standard.AllocationSize.QuadPart;
    const int64_t needed = size > allocated ? size - allocated : 0;
    const std::string folder = FolderOf(path_);
    const int64_t available = FreeBytes(folder);
    if (available >= 0 && available < needed) {
        freeBytes = available;
        return ENOSPC;
    }
    // Sparse before the length grows: NTFS then keeps the new range unallocated, and a write
    // far into it does not first fill the gap below it with zeros. Without it the file still
    // works, only slower there, so a refusal is not an error.
    if (size > standard.EndOfFile.QuadPart && SupportsSparse(file, path_)) {
        DWORD returned = 0;
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    }
    // By handle, not SetFilePointerEx + SetEndOfFile: the file pointer is shared by every
    // thread's calls on the handle.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) {
        const int error = LastErrno();
        if (error == ENOSPC)
            freeBytes = FreeBytes(folder);
        return error;
    }
    return 0;
}

int TPositionalFile::WriteAt(const void *data, size_t size, int64_t offset) {
    if (fd_ == -1)
        return EBADF;
    if (offset < 0)
        return EINVAL;
    const char *from = static_cast<const char *>(data);
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
        OVERLAPPED at = At(offset);
        DWORD wrote = 0;
        if (!WriteFile(AsHandle(fd_), from, part, &wrote, &at))
            return LastErrno(); // ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL: ENOSPC
        if (wrote == 0)
            return EIO; // no progress and no reason: do not spin
        from += wrote;
        size -= wrote;
        offset += wrote;
    }
    return 0;
}

int64_t TPositionalFile::ReadAt(void *data, size_t size, int64_t offset, int &error) {
    if (fd_ == -1 || offset < 0) {
        error = fd_ == -1 ? EBADF : EINVAL;
        return -1;
    }
    const DWORD part = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (ReadFile(AsHandle(fd_), data, part, &got, &at))
        return got;
    // At or past the end a read with an offset fails with ERROR_HANDLE_EOF (also under wine).
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF)
        return 0;
    error = win32::ErrnoFromSystemError(code);
    return -1;
}

int64_t TPositionalFile::Size() const {
    if (fd_ != -1) {
        LARGE_INTEGER size{};
        return GetFileSizeEx(AsHandle(fd_), &size) ? size.QuadPart : -1;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path_.empty() ||
        !GetFileAttributesExW(win32::Widen(path_).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                data.nFileSizeLow);
}

int TPositionalFile::Sync() {
    if (fd_ == -1)
        return EBADF;
    return FlushFileBuffers(AsHandle(fd_)) ? 0 : LastErrno();
}

int TPositionalFile::HoldForReading() {
    if (fd_ == -1)
        return EBADF;
    BY_HANDLE_FILE_INFORMATION written{};
    if (!GetFileInformationByHandle(AsHandle(fd_), &written))
        return LastErrno();
    // Writing ends with the handle that may write; the one that holds the file may read and
    // rename it, and shares reading only. CreateProcess still starts a program from it. The
    // new handle cannot open before the old one closes: whatever shares less than the writer's
    // access conflicts with it, and whatever shares writing would not keep writers out.
    CloseHandle(AsHandle(fd_));
    fd_ = -1;
    HANDLE held =
        CreateFileW(win32::Widen(path_).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_SHARING_VIOLATION ? EBUSY : win32::ErrnoFromSystemError(code);
    }
    // In that moment the name was nobody's: it must still be the file that was written.
    BY_HANDLE_FILE_INFORMATION read{};
    if (!GetFileInformationByHandle(held, &read) ||
        read.dwVolumeSerialNumber != written.dwVolumeSerialNumber ||
        read.nFileIndexHigh != written.nFileIndexHigh ||
        read.nFileIndexLow != written.nFileIndexLow) {
        CloseHandle(held);
        return EIO;
    }
    fd_ = reinterpret_cast<intptr_t>(held);
    return 0;
}

bool TPositionalFile::IsAt(const std::string &path) const {
    if (fd_ == -1)
        return false;
    BY_HANDLE_FILE_INFORMATION mine{}, named{};
    // No access asked: such an open goes through whatever the holder shares.
    HANDLE other = CreateFileW(win32::Widen(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    const bool same = GetFileInformationByHandle(AsHandle(fd_), &mine) &&
                      GetFileInformationByHandle(other, &named) &&
                      mine.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                      mine.nFileIndexHigh == named.nFileIndexHigh &&
                      mine.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(other);
    return same;
}

int TPositionalFile::Close() {
    if (fd_ == -1)
        return 0;
    const int result = CloseHandle(AsHandle(fd_)) ? 0 : LastErrno();
    fd_ = -1;
    return result;
}

int TPositionalFile::MoveTo(const std::string &path, bool replace) {
    if (path_.empty())
        return EBADF;
    if (path.empty())
        return ENOENT;
    // Without MOVEFILE_COPY_ALLOWED another volume gives ERROR_NOT_SAME_DEVICE (EXDEV), as the
    // rename of an open file does; a taken name gives ERROR_ALREADY_EXISTS (EEXIST).
    int error = 0;
    if (fd_ != -1)
        error = RenameOpenFile(AsHandle(fd_), path, replace);
    else if (!MoveFileExW(win32::Widen(path_).c_str(), win32::Widen(path).c_str(),
                          replace ? MOVEFILE_REPLACE_EXISTING : 0))
        error = LastErrno();
    if (error == 0)
        path_ = path;
    return error;
}

int TPositionalFile::Remove() {
    if (path_.empty())
        return 0;
    Close(); // its write-back does not matter for a file that goes
    if (!DeleteFileW(win32::Widen(path_).c_str()))
        return LastErrno();
    path_.clear();
    return 0;
}

} // namespace platform
