#include "platform/PositionalFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0) // <linux/fs.h>
#endif

namespace platform {
namespace {

// Names tried before CreateIn gives up: with 36^8 names a folder would need billions of
// working files before one try in a thousand collided.
constexpr int kNameAttempts = 100;

// A hold refused only because a FileHeld probe has the lock for a moment is tried again:
// this many times, this far apart (about 50 ms in all).
constexpr int kHoldAttempts = 10;
constexpr auto kHoldRetryPause = std::chrono::milliseconds(5);

int Fd(intptr_t value) {
    return static_cast<int>(value);
}

// Takes the exclusive flock(2) lock that holds the file open as `fd`, without waiting for a
// holder. Returns 0 or the errno value: EWOULDBLOCK when another open file keeps it.
int TakeHold(int fd) {
    for (int attempt = 1;; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || attempt == kHoldAttempts)
            return errno;
        std::this_thread::sleep_for(kHoldRetryPause);
    }
}

// Eight characters of [0-9a-z] from the kernel's random source; where that is unavailable
// (a kernel before 3.17), from the clock, the process and a counter.
std::string UniquePart() {
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        static std::atomic<uint64_t> counter{0};
        bits = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<uint64_t>(::getpid()) << 40) ^ (++counter * 0x9e3779b97f4a7c15u);
        bits ^= bits >> 31; // spread the counter's bits over the low digits
        bits *= 0xbf58476d1ce4e5b9u;
        bits ^= bits >> 27;
    }
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string part(8, '0');
    for (char &c : part) {
        c = digits[bits % 36];
        bits /= 36;
    }
    return part;
}

// The process's file-creation mask. /proc/self/status shows it without changing it; without
// /proc, umask() sets it and sets it back, under a mutex so that two of our own calls cannot
// read each other's placeholder.
mode_t CurrentUmask() {
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[4096];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n > 0) {
            text[n] = '\0';
            if (const char *line = std::strstr(text, "\nUmask:"))
                return static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8) & 0777);
        }
    }
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

// The space an unprivileged user may still fill on the descriptor's file system, or -1 when
// the file system does not tell (some network and virtual ones report no blocks at all).
int64_t FreeBytes(int fd) {
    struct statvfs info {};
    if (::fstatvfs(fd, &info) != 0 || info.f_blocks == 0)
        return -1;
    const unsigned long long blocks = info.f_bavail;
    const unsigned long long unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    constexpr auto most = static_cast<unsigned long long>(std::numeric_limits<int64_t>::max());
    return unit != 0 && blocks > most / unit ? std::numeric_limits<int64_t>::max()
                                             : static_cast<int64_t>(blocks * unit);
}

// Renames `from` to `to` unless `to` exists (EEXIST), without a moment in which a file
// made there by someone else could be replaced: renameat2's RENAME_NOREPLACE, or where the
// kernel or file system lacks that flag (EINVAL, ENOSYS), a second name made with link(2),
// which never replaces anything, and the first one removed.
int RenameNoReplace(const std::string &from, const std::string &to) {
#ifdef SYS_renameat2
    const long renamed =
        ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (renamed == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

// Gives the file open as `fd` the mode of a finished file, 0666 less the umask, and moves it
// from `from` to `to`. The mode comes first, so that the file never shows under its final
// name with the working file's mode; a failed move puts the old mode back.
int ShareAndMove(int fd, const std::string &from, const std::string &to, bool replace) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EPERM;
    if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0)
        return errno;
    const int error =
        replace ? (::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno) : RenameNoReplace(from, to);
    if (error != 0)
        ::fchmod(fd, info.st_mode & 07777);
    return error;
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
        // O_EXCL: a name that exists, a symbolic link included, is never opened.
        const int fd = ::open(candidate.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // Only a file system without locks refuses the hold of a new file for another
            // reason than EWOULDBLOCK: the download goes on there, and cannot be resumed.
            if (TakeHold(fd) == EWOULDBLOCK) {
                // Somebody opened the file in the moment since it was made, and keeps it.
                ::close(fd);
                ::unlink(candidate.c_str());
                return EBUSY;
            }
            fd_ = fd;
            path_ = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST && errno != EINTR)
            return errno;
    }
    return EEXIST;
}

int TPositionalFile::OpenExisting(const std::string &path) {
    if (!path_.empty())
        return EBUSY;
    if (path.empty())
        return ENOENT;
    // O_NOFOLLOW: a symbolic link gives ELOOP. O_NONBLOCK: the open of a pipe does not wait for
    // its other end (it is refused below); it is taken off again for the regular file.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    } else if (info.st_nlink != 1 || info.st_uid != ::geteuid()) {
        // Not what CreateIn makes: written in place, another name's file would change too.
        error = EPERM;
    } else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            error = errno;
        else if ((error = TakeHold(fd)) == EWOULDBLOCK)
            error = EBUSY;
    }
    if (error != 0) {
        ::close(fd);
        return error;
    }
    fd_ = fd;
    path_ = path;
    return 0;
}

int TPositionalFile::Reserve(int64_t size, int64_t &freeBytes) {
    freeBytes = -1;
    if (fd_ < 0)
        return EBADF;
    if (size < 0)
        return EINVAL;
    struct stat info {};
    if (::fstat(Fd(fd_), &info) != 0)
        return errno;
    // Compared before fallocate: ext4's fallocate takes every free block and grows the file
    // before it reports ENOSPC, leaving every other writer a full disk meanwhile.
    const int64_t allocated = static_cast<int64_t>(info.st_blocks) * 512;
    const int64_t needed = size > allocated ? size - allocated : 0;
    const int64_t available = FreeBytes(Fd(fd_));
    if (available >= 0 && available < needed) {
        freeBytes = available;
        return ENOSPC;
    }
    // Mode 0 reserves the blocks without writing them and extends the length; unlike
    // posix_fallocate it never falls back to writing zeros over the whole file.
    bool lengthSet = false; // by fallocate, which only ever grows the file
    if (size > 0) {
        int result;
        do
            result = ::fallocate(Fd(fd_), 0, 0, size);
        while (result != 0 && errno == EINTR);
        if (result == 0) {
            lengthSet = size >= info.st_size;
        } else if (errno != EOPNOTSUPP && errno != ENOSYS) {
            const int error = errno;
            // A failed fallocate may keep what it got and the length it reached (ext4 does);
            // the old length gives both back (ext4 also drops the blocks past the end then).
            const int restored = ::ftruncate(Fd(fd_), info.st_size);
            static_cast<void>(restored); // the error that counts is the reservation's
            if (error == ENOSPC)
                freeBytes = FreeBytes(Fd(fd_));
            return error;
        }
        // EOPNOTSUPP, ENOSYS: a file system without reservations gets the length alone.
    }
    if (!lengthSet && ::ftruncate(Fd(fd_), size) != 0)
        return errno;
    return 0;
}

int TPositionalFile::WriteAt(const void *data, size_t size, int64_t offset) {
    if (fd_ < 0)
        return EBADF;
    if (offset < 0)
        return EINVAL;
    const char *at = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(Fd(fd_), at, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO; // no progress and no reason: do not spin
        at += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

int64_t TPositionalFile::ReadAt(void *data, size_t size, int64_t offset, int &error) {
    if (fd_ < 0 || offset < 0) {
        error = fd_ < 0 ? EBADF : EINVAL;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::pread(Fd(fd_), data, size, offset);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

int64_t TPositionalFile::Size() const {
    struct stat info {};
    if (fd_ >= 0 ? ::fstat(Fd(fd_), &info) != 0
                 : path_.empty() || ::lstat(path_.c_str(), &info) != 0)
        return -1;
    return info.st_size;
}

int TPositionalFile::Sync() {
    if (fd_ < 0)
        return EBADF;
    while (::fdatasync(Fd(fd_)) != 0)
        if (errno != EINTR)
            return errno;
    return 0;
}

int TPositionalFile::HoldForReading() {
    if (fd_ == -1)
        return EBADF;
    // A descriptor for reading only holds the file: one open for writing would make its start
    // as a program fail ("text file busy"). It is the same file (compared) before the writing
    // one goes, so nothing can come in between.
    const int reader = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (reader < 0)
        return errno;
    struct stat written {}, read {};
    if (::fstat(static_cast<int>(fd_), &written) != 0 || ::fstat(reader, &read) != 0 ||
        written.st_dev != read.st_dev || written.st_ino != read.st_ino) {
        ::close(reader);
        return EIO;
    }
    // The hold passes to the reader without a gap: the writer's exclusive lock becomes a shared
    // one (Linux converts it under one lock: no other lock comes in between; it cannot
    // conflict, as nobody else has one), the reader joins it, and the writer's goes with it.
    // A shared lock keeps every other hold and every FileHeld probe out as the exclusive one
    // did, since those ask for an exclusive lock. Where the writer has no lock (a file system
    // without locks) there is nothing to pass on.
    if (::flock(Fd(fd_), LOCK_SH | LOCK_NB) == 0 && ::flock(reader, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        ::close(reader);
        ::flock(Fd(fd_), LOCK_EX | LOCK_NB); // as it was: nobody else can hold it meanwhile
        return error;
    }
    ::close(static_cast<int>(fd_));
    fd_ = reader;
    return 0;
}

bool TPositionalFile::IsAt(const std::string &path) const {
    struct stat mine {}, named {};
    return fd_ != -1 && ::fstat(static_cast<int>(fd_), &mine) == 0 &&
           ::stat(path.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
}

int TPositionalFile::Close() {
    if (fd_ < 0)
        return 0;
    const int result = ::close(Fd(fd_)) == 0 ? 0 : errno;
    fd_ = -1; // closed even when close reports an error
    return result;
}

int TPositionalFile::MoveTo(const std::string &path, bool replace) {
    if (path_.empty())
        return EBADF;
    if (path.empty())
        return ENOENT;
    // A closed file is opened by its name for the mode change, never through a symbolic link
    // planted there.
    int fd = Fd(fd_);
    const bool openedHere = fd < 0;
    if (openedHere) {
        fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return errno;
    }
    const int error = ShareAndMove(fd, path_, path, replace);
    if (openedHere)
        ::close(fd);
    if (error == 0)
        path_ = path;
    return error;
}

int TPositionalFile::Remove() {
    if (path_.empty())
        return 0;
    Close(); // its write-back does not matter for a file that goes
    if (::unlink(path_.c_str()) != 0)
        return errno;
    path_.clear();
    return 0;
}

} // namespace platform
