#pragma once

#include "engine/Failure.h"
#include "platform/PositionalFile.h"
#include "platform/Signature.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace engine {

// The file being downloaded, written where it will stay: a working file in the output folder,
// sized to the whole length before any range is asked, written at offsets by the workers, and
// given its final name once it is verified. Whatever does not complete leaves nothing behind.
class FileSink {
  public:
    FileSink() = default;
    // Deletes the working file unless it was given its final name.
    ~FileSink();
    FileSink(const FileSink &) = delete;
    FileSink &operator=(const FileSink &) = delete;

    // Creates the working file in `directory` (ending in a separator) and makes room for
    // `size` bytes. DiskFull names the room needed and free when there is too little;
    // NotWritable says why the file cannot be made.
    std::optional<Failure> Open(const std::string &directory, int64_t size);
    // Takes over the working file `path` that a run before this one left, with `size` bytes
    // (its length must be that): it is written on as if it had been created here. Returns 0,
    // EBUSY when another run holds it, or another error number (then nothing is held).
    int OpenKept(const std::string &path, int64_t size);
    // Writes `size` bytes at `offset`; safe from several threads at once. Throws
    // net::EFileStreamError naming the file and the reason, with its error number (ENOSPC:
    // the disk is full).
    void WriteAt(const char *data, size_t size, int64_t offset);
    // Closes the file: everything is written. NotWritable (DiskFull) when the last writes
    // failed.
    std::optional<Failure> Close();
    // Ends the writing and holds the file, so that what is checked next (its size, its digest)
    // is what stays under its name, and what a run starts, until Release (on Windows nobody
    // else may write, rename or delete it meanwhile).
    std::optional<Failure> Hold();
    // Whether `path` names the held file (not another one put under the name).
    bool IsAt(const std::string &path) const { return file_.IsAt(path); }
    // The held file's descriptor (on Windows its handle), from which a run starts it without
    // looking its name up again; -1 when no file is held.
    intptr_t Handle() const { return file_.Handle(); }
    // Lets the held file go: it stays where it is.
    void Release() { file_.Close(); }
    // The file's length in bytes (-1 when it cannot be read).
    int64_t Size() const;
    // The SHA-256 digest of the held file's bytes, read once in 1 MiB blocks; "" with `error`
    // saying why. `keepGoing` is asked before each 16 MiB (false: "cancelled").
    std::string Sha256(std::string &error, const std::function<bool()> &keepGoing);
    // The Authenticode signature of the held file.
    platform::SignatureCheck Signature() const { return platform::CheckSignature(file_); }
    // Gives the closed file its final name `path`: with `replace` an existing file is
    // replaced, else EEXIST comes back when the name is taken meanwhile. Another file system
    // (the output folder was changed during the download) gets a copy. Returns 0 or the
    // error number, with `failure` saying what went wrong.
    int MoveTo(const std::string &path, bool replace, Failure &failure);
    // What was written so far reaches the disk (safe beside the writers); 0 or the error number.
    int Sync() { return file_.Sync(); }
    // Closes the working file and leaves it where it is, for a later run to go on with.
    void Keep();
    // Closes and deletes the working file, if any.
    void Discard();
    // The file's current path (the working name until MoveTo).
    const std::string &Path() const { return file_.Path(); }

  private:
    platform::TPositionalFile file_;
    bool kept_ = false;
};

// Sets the file's modification time to a date-time (days since 30 December 1899, UTC).
bool SetFileDate(const std::string &path, double dateTime);

} // namespace engine
