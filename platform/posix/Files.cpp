#include "platform/Files.h"

#include "platform/posix/PlainFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool PathExists(const std::string &path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RemoveFile(const std::string &path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

bool SetModificationTime(const std::string &path, int64_t unixSeconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int CopyFileTo(const std::string &from, const std::string &to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    const bool existed = PathExists(to);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    constexpr size_t kBlock = 1 << 20;
    auto block = std::make_unique<char[]>(kBlock);
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(in, block.get(), kBlock);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            break;
        }
        if (got == 0)
            break;
        if (!WriteAll(out, block.get(), static_cast<size_t>(got))) {
            error = errno;
            break;
        }
    }
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    if (error != 0 && !existed)
        ::unlink(to.c_str());
    return error;
}

bool FileHeld(const std::string &path) {
    // O_NONBLOCK: the open of a pipe does not wait for its other end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM; // somebody else's file: leave it alone
    bool held = false;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        int locked;
        do
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        // Other refusals (ENOLCK, EOPNOTSUPP) say that the file system keeps no locks, so that
        // nobody can hold the file there.
        held = locked != 0 && errno == EWOULDBLOCK;
    }
    ::close(fd); // drops the lock taken here
    return held;
}

} // namespace platform
