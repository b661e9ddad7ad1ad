#include "platform/FileJoin.h"
#include "platform/posix/PlainFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Closes a descriptor on every way out of a scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The most that is copied between two keep-going checks.
constexpr size_t kPart = 16 * 1024 * 1024;

// The process's file-creation mask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t CurrentUmask() {
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 022;
    char text[4096];
    ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return 022;
    text[n] = '\0';
    const char *line = std::strstr(text, "\nUmask:");
    return line ? static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8) & 0777) : 022;
}

} // namespace

// Copies what is left of `in` to the output through a buffer; for systems or file pairs that
// copy_file_range does not handle.
int TFileJoin::CopyByBlocks(intptr_t in, bool &readFailed) {
    constexpr size_t kBlock = 262144;
    auto block = std::make_unique<char[]>(kBlock); // not cleared: only what is read is used
    for (size_t copied = 0;; copied += kBlock) {
        if (copied % kPart == 0 && !KeepGoing())
            return ECANCELED;
        ssize_t n = ::read(static_cast<int>(in), block.get(), kBlock);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            readFailed = true;
            return errno;
        }
        if (n == 0)
            return 0;
        if (!WriteAll(static_cast<int>(fd_), block.get(), static_cast<size_t>(n)))
            return errno ? errno : EIO;
    }
}

TFileJoin::~TFileJoin() {
    Close();
}

int TFileJoin::Create(const std::string &path) {
    Close();
    owned_ = false;
    int error = 0;
    fd_ = OpenPlainFile(path, 0666, false, error);
    if (fd_ < 0)
        return error;
    owned_ = true;
    return ::ftruncate(fd_, 0) == 0 ? 0 : errno;
}

int TFileJoin::CreateFrom(const std::string &path, const std::string &first, bool &taken) {
    Close();
    owned_ = false;
    taken = false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return S_ISLNK(info.st_mode) ? ELOOP : EPERM; // what is there stays untouched
    if (::rename(first.c_str(), path.c_str()) != 0)
        return Create(path); // another file system, or no right to replace: copy instead
    taken = true;
    owned_ = true;
    fd_ = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0)
        return errno;
    if (::lseek(fd_, 0, SEEK_END) < 0 || ::fchmod(fd_, 0666 & ~CurrentUmask()) != 0)
        return errno;
    return 0;
}

int TFileJoin::Append(const std::string &path, bool &readFailed) {
    readFailed = false;
    if (fd_ < 0)
        return EBADF;
    Descriptor in{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    if (in.fd < 0) {
        readFailed = true;
        return errno;
    }
    struct stat info {};
    if (::fstat(in.fd, &info) != 0) {
        readFailed = true;
        return errno;
    }
    // The kernel copies from the current offsets and advances both. A copy that cannot be
    // done in the kernel (different file systems on older kernels, special files) reports
    // so before copying anything and leaves the rest to the block copy.
    off_t left = info.st_size;
    while (left > 0) {
        if (!KeepGoing())
            return ECANCELED;
        const size_t part = std::min(static_cast<size_t>(left), kPart);
        ssize_t n = ::copy_file_range(in.fd, nullptr, static_cast<int>(fd_), nullptr, part, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                      errno == EBADF))
            break;
        if (n < 0)
            return errno; // ENOSPC, EIO, EFBIG: the output cannot take the data
        if (n == 0)
            break; // the file is shorter than it was: the block copy finds its real end
        left -= n;
    }
    return left == 0 ? 0 : CopyByBlocks(in.fd, readFailed);
}

int TFileJoin::Close() {
    if (fd_ < 0)
        return 0;
    int result = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    return result;
}

} // namespace platform
