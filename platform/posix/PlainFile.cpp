#include "platform/PlainFile.h"
#include "platform/posix/PlainFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int OpenPlainFile(const std::string &path, unsigned permissions, bool ownSoleName, int &error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    static_cast<mode_t>(permissions));
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat info {};
    const bool plain = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       (!ownSoleName || (info.st_nlink == 1 && info.st_uid == ::geteuid()));
    const int flags = plain ? ::fcntl(fd, F_GETFL) : -1;
    if (!plain || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = plain ? errno : EPERM;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::FILE *CreatePlainFile(const std::string &path, int &error, bool &notPlain) {
    notPlain = false;
    int fd = OpenPlainFile(path, 0600, true, error);
    if (fd < 0) {
        notPlain = error == ELOOP || error == EPERM;
        return nullptr;
    }
    std::FILE *file = nullptr;
    if (::ftruncate(fd, 0) != 0 || !(file = ::fdopen(fd, "w+b"))) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

bool WriteAll(int fd, const void *data, size_t size) {
    const char *at = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::FILE *OpenFileForReading(const std::string &path) {
    return std::fopen(path.c_str(), "rb");
}

} // namespace platform
