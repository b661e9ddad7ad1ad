#include "platform/Files.h"

#include "platform/posix/PlainFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
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

namespace {

// The longest part of a file's name that goes into the name of its replacement while that is
// written ("." + part + ".XXXXXX" stays within the usual 255 bytes of a name).
constexpr size_t kNamePartInTemporary = 200;

// Makes a rename in `folder` ("" for the working one) survive a crash. A file system that
// cannot flush a folder (EINVAL) keeps its renames by other means.
int SyncFolder(const std::string &folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            error = errno == EINVAL ? 0 : errno;
            break;
        }
    }
    ::close(fd);
    return error;
}

} // namespace

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

int ReplaceFileContents(const std::string &path, const std::string &bytes) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size());
    if (name.empty())
        return path.empty() ? ENOENT : EISDIR;
    // mkostemp creates the file exclusively, readable and writable by its owner only.
    std::string temporary = folder + "." + name.substr(0, kNamePartInTemporary) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    errno = 0;
    int error = WriteAll(fd, bytes.data(), bytes.size()) ? 0 : (errno != 0 ? errno : EIO);
    while (error == 0 && ::fsync(fd) != 0)
        if (errno != EINTR)
            error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    return SyncFolder(folder);
}

int ReadFileUpTo(const std::string &path, size_t limit, std::string &bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    else if (static_cast<uint64_t>(info.st_size) > limit)
        error = EFBIG;
    else
        bytes.reserve(static_cast<size_t>(info.st_size));
    // Read to the end, not to the length seen above: the file may have grown since; one byte
    // beyond `limit` is enough to know that it is too long.
    constexpr size_t kBlock = 65536;
    char block[kBlock];
    while (error == 0) {
        const size_t left = limit - bytes.size();
        const ssize_t got = ::read(fd, block, left < kBlock ? left + 1 : kBlock);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = errno;
        else if (got == 0)
            break;
        else if (static_cast<size_t>(got) > left)
            error = EFBIG;
        else
            bytes.append(block, static_cast<size_t>(got));
    }
    ::close(fd);
    if (error != 0)
        bytes.clear();
    return error;
}

std::vector<FolderEntry> RegularFilesIn(const std::string &directory) {
    std::vector<FolderEntry> files;
    DIR *folder = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!folder)
        return files;
    while (const dirent *entry = ::readdir(folder)) {
        // lstat's view: a symbolic link is not the file it leads to. "." and ".." are folders.
        struct stat info {};
        if (::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            files.push_back({entry->d_name, static_cast<int64_t>(info.st_mtim.tv_sec)});
    }
    ::closedir(folder);
    return files;
}

} // namespace platform
