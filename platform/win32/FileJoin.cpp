#include "platform/FileJoin.h"
#include "platform/win32/Errors.h"
#include "platform/win32/PlainFile.h"

#include <cerrno>
#include <memory>

namespace platform {
namespace {

// The most that is copied between two keep-going checks.
constexpr size_t kPart = 16 * 1024 * 1024;
// One read and one write: large blocks keep the number of system calls small, and the
// file system's cache does the rest.
constexpr DWORD kBlock = 1024 * 1024;

HANDLE AsHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

int LastErrno() {
    return win32::ErrnoFromSystemError(GetLastError());
}

// Closes a handle on every way out of a scope.
struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

} // namespace

int TFileJoin::CopyByBlocks(intptr_t in, bool &readFailed) {
    auto block = std::make_unique<char[]>(kBlock); // not cleared: only what is read is used
    for (size_t copied = 0;; copied += kBlock) {
        if (copied % kPart == 0 && !KeepGoing())
            return ECANCELED;
        DWORD got = 0;
        if (!ReadFile(AsHandle(in), block.get(), kBlock, &got, nullptr)) {
            readFailed = true;
            return LastErrno();
        }
        if (got == 0)
            return 0;
        for (DWORD done = 0; done < got;) {
            DWORD wrote = 0;
            if (!WriteFile(AsHandle(fd_), block.get() + done, got - done, &wrote, nullptr))
                return LastErrno();
            if (wrote == 0)
                return EIO;
            done += wrote;
        }
    }
}

TFileJoin::~TFileJoin() {
    Close();
}

int TFileJoin::Create(const std::string &path) {
    Close();
    owned_ = false;
    int error = 0;
    HANDLE file = win32::OpenPlainFile(path, false, false, error);
    if (file == INVALID_HANDLE_VALUE)
        return error;
    fd_ = reinterpret_cast<intptr_t>(file);
    owned_ = true;
    return SetEndOfFile(file) ? 0 : LastErrno();
}

int TFileJoin::CreateFrom(const std::string &path, const std::string &first, bool &taken) {
    Close();
    owned_ = false;
    taken = false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? ELOOP : EPERM;
    // Without MOVEFILE_COPY_ALLOWED a move to another volume fails instead of copying.
    if (!MoveFileExA(first.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Create(path);
    taken = true;
    owned_ = true;
    int error = 0;
    HANDLE file = win32::OpenPlainFile(path, false, false, error);
    if (file == INVALID_HANDLE_VALUE)
        return error;
    fd_ = reinterpret_cast<intptr_t>(file);
    LARGE_INTEGER end{};
    return SetFilePointerEx(file, end, nullptr, FILE_END) ? 0 : LastErrno();
}

int TFileJoin::Append(const std::string &path, bool &readFailed) {
    readFailed = false;
    if (fd_ == -1)
        return EBADF;
    Handle in{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (in.h == INVALID_HANDLE_VALUE) {
        readFailed = true;
        return LastErrno();
    }
    return CopyByBlocks(reinterpret_cast<intptr_t>(in.h), readFailed);
}

int TFileJoin::Close() {
    if (fd_ == -1)
        return 0;
    const int result = CloseHandle(AsHandle(fd_)) ? 0 : LastErrno();
    fd_ = -1;
    return result;
}

} // namespace platform
