#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A new file that several threads write at offsets of their own, sized to its whole length
// before the first write: a download written in place, in the folder where it will stay, under
// a working name until it is complete. Error numbers are errno values on every system
// (std::strerror gives their text); ENOSPC is a full disk. Calls that need an open file give
// EBADF without one (before CreateIn, after Close or Remove), a negative size or offset EINVAL.
// Not copyable; closes on destruction (the file itself stays until Remove or MoveTo).
//
// While an object has its file open (from CreateIn or OpenExisting until Close or Remove) it
// holds it: no other TPositionalFile, in this process or another, can OpenExisting it, and
// FileHeld (platform/Files.h) says so. POSIX: an flock(2) lock on the open file, which the
// system drops when the process ends however it ends (where the file system keeps no locks,
// CreateIn goes on without one, and such a file cannot be opened again). Windows: the share
// mode the file is open with.
class TPositionalFile {
  public:
    TPositionalFile() = default;
    ~TPositionalFile();
    TPositionalFile(const TPositionalFile &) = delete;
    TPositionalFile &operator=(const TPositionalFile &) = delete;

    // Creates a new empty file "tlv" + a unique part + ".tmp" in `directory` (ending in a path
    // separator, or empty for the working directory), exclusively (no other caller, thread or
    // process gets it), readable and writable by its owner only (Windows: with the folder's
    // permissions; while it is open others may only read it, and only when they share writing
    // and deleting). Returns 0 or the error number: ENOENT for a missing folder, EBUSY when
    // this object already holds a file (until Remove).
    int CreateIn(const std::string &directory);
    // Opens the existing regular file `path` (a working file kept from an earlier run) for
    // reading and writing; the object is then as after CreateIn, with this file. Nothing
    // planted under the name is opened: not a symbolic link (ELOOP; Windows: any reparse
    // point), nor a folder, pipe or device (EISDIR, EINVAL), nor a file that has another name
    // as well, or (POSIX) belongs to another user (EPERM): writing in place would change that
    // other file too. Returns 0 or the error number: ENOENT when it is missing, EBUSY when
    // this object already holds a file, or when another TPositionalFile holds this one (see
    // below; a FileHeld probe holds it for a moment, so that is waited out for up to about
    // 50 ms first). POSIX: ENOLCK-like errors where the file system keeps no locks.
    int OpenExisting(const std::string &path);
    // The file's full path; empty before CreateIn succeeded and after Remove.
    const std::string &Path() const { return path_; }

    // Makes the file `size` bytes long and reserves their space where the system can, so that
    // no later write finds the disk full (Linux: fallocate; where the file system cannot, and
    // on Windows, the length is set alone; Windows makes the file sparse where the volume
    // allows, so that a write far into it does not fill the gap with zeros first). The free
    // space is compared first on every system: a reservation that cannot fit fails at once,
    // without filling the disk on the way. Bytes already written below `size` stay. Returns 0,
    // or ENOSPC with `freeBytes` set to the space that is free (-1 when it is not known; -1 too
    // for other results), or another error number; on failure the file keeps its length.
    int Reserve(int64_t size, int64_t &freeBytes);

    // Writes all `size` bytes at `offset`. Safe from several threads at once, each writing its
    // own part. Returns 0 or the error number (ENOSPC: the disk is full).
    int WriteAt(const void *data, size_t size, int64_t offset);
    // Reads at most `size` bytes at `offset`; returns the count (0 at the end) or -1 with
    // `error` set.
    int64_t ReadAt(void *data, size_t size, int64_t offset, int &error);
    // The file's length in bytes (also when closed, through its name), or -1.
    int64_t Size() const;

    // Ends the writing and holds the file for reading only, so that what is checked next is
    // what stays under its name until Close: on Windows the file is opened anew for reading
    // (and renaming) with nobody else allowed to write, rename or delete it meanwhile (a
    // program can still be started from it); elsewhere a descriptor for reading only takes the
    // writing one's place. The file stays held throughout on POSIX (the lock is handed from
    // one descriptor to the other). On Windows the writing handle must close before the reading
    // one can open, so for that moment (microseconds) nothing holds it: an open by another in
    // that moment gives EBUSY here, and a file put under the name meanwhile gives EIO. Returns
    // 0 or the error number.
    int HoldForReading();
    // Makes everything written so far reach the disk, so that a record of it written after
    // this survives a crash (POSIX: fdatasync; Windows: FlushFileBuffers, which only a
    // writing handle can do: after HoldForReading Windows refuses it with EACCES). Blocks
    // until the disk has it. Returns 0 or the error number.
    int Sync();
    // Whether `path` names this open file (the same file, not another put under the name).
    bool IsAt(const std::string &path) const;

    // Closes the file; returns 0 or the error number of the last write-back. Reading, writing
    // and reserving end here; the file keeps its name.
    int Close();
    // Gives the file, open or closed, the name `path` in the same folder or another one on the
    // same file system, in one step (an open file stays open under its new name): with
    // `replace` an existing file of that name is replaced (not what a symbolic link under the
    // name points to: the link itself goes); without it the move fails with EEXIST when the
    // name is taken, by a symbolic link too. EXDEV: another file system. On success the file
    // is readable by others as the umask allows (Windows: it keeps the permissions it was
    // created with), and Path() is the new name; on failure both names stay as they were.
    int MoveTo(const std::string &path, bool replace);
    // Closes the file and deletes it; returns 0 or the error number (0 when there is no file).
    int Remove();

    // The open file's descriptor, or its Windows handle; -1 when none is open.
    intptr_t Handle() const { return fd_; }

  private:
    intptr_t fd_ = -1; // a descriptor, or a Windows handle (-1: none)
    std::string path_;
};

} // namespace platform
