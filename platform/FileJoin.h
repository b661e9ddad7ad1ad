#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// A new file that whole files are appended to, in order. The copy stays in the kernel where
// the system can (copy_file_range; on file systems with shared extents no data is copied at
// all) and falls back to reading and writing blocks (on Windows large blocks, unbuffered by
// the C runtime). Error numbers are errno values on every system (std::strerror gives their
// text). Not copyable; closes on destruction.
class TFileJoin {
  public:
    TFileJoin() = default;
    ~TFileJoin();
    TFileJoin(const TFileJoin &) = delete;
    TFileJoin &operator=(const TFileJoin &) = delete;

    // Creates the file (an existing plain file is emptied), readable and writable by the
    // owner and readable by others as the umask allows. Nothing is written through what else
    // may be under the name: a symbolic link gives ELOOP, a pipe, device or folder EPERM,
    // and it stays as it was. Returns 0 or the system's error number.
    int Create(const std::string &path);
    // Like Create, but first tries to make the file `first` (on the same file system) the
    // start of the new file by renaming it, so its bytes are not copied; `taken` tells
    // whether that worked. The file then gets the permissions Create would have given it.
    int CreateFrom(const std::string &path, const std::string &first, bool &taken);
    // Appends the whole file at `path`. Returns 0, or the error number with readFailed telling
    // whether reading `path` (or opening it) failed rather than writing the output; ECANCELED
    // when the keep-going check said no.
    int Append(const std::string &path, bool &readFailed);
    // Asked before each part of a copy (every 16 MiB), on the calling thread: false ends the
    // append with ECANCELED. The caller may process its messages there.
    void SetKeepGoing(std::function<bool()> keepGoing) { keepGoing_ = std::move(keepGoing); }
    // Closes the output; returns 0 or the error number of the last write-back.
    int Close();
    // Whether the file under the name is this join's own (made, emptied or moved there), so
    // that a failed join may remove it.
    bool Owned() const { return owned_; }

  private:
    bool KeepGoing() const { return !keepGoing_ || keepGoing_(); }
    int CopyByBlocks(intptr_t in, bool &readFailed);

    intptr_t fd_ = -1; // the output: a descriptor, or a Windows handle (-1: none)
    bool owned_ = false;
    std::function<bool()> keepGoing_;
};

} // namespace platform
