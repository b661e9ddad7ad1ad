#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Plain questions and changes of the file system, without the C++ library's path machinery
// (which would bring its locale and conversions into the program).

// Whether anything is under `path`: a file, a folder, or a link (also one that leads nowhere).
bool PathExists(const std::string &path);
// Whether `path` names a folder (through links).
bool IsDirectory(const std::string &path);
// Deletes the file or link `path` (not a folder); true when nothing is under the name after.
bool RemoveFile(const std::string &path);
// The working directory; empty when it is unknown.
std::string CurrentDirectory();
// Sets the modification time of the file `path` to `unixSeconds` (since 1970, UTC).
bool SetModificationTime(const std::string &path, int64_t unixSeconds);
// Copies the file `from` to `to`, replacing a file there. Returns 0 or the errno value of what
// failed; a copy that failed leaves no file at `to` that was not there before.
int CopyFileTo(const std::string &from, const std::string &to);

// Whether an open TPositionalFile (platform/PositionalFile.h), of this process or another,
// holds the file `path` now. A missing file, a symbolic link, a folder or another non-regular
// file is not held. One that cannot even be opened for the question (not readable by this
// user) counts as held: it is somebody else's. The probe itself holds the file for a moment
// (POSIX: it takes the lock and drops it at once; Windows: it opens it for itself alone).
bool FileHeld(const std::string &path);

// Replaces the file `path` by one holding `bytes`, in one step: a reader sees the old file
// or the new one whole, never a part, also after a crash. The bytes go to a new file under a
// unique name in the same folder (created exclusively; POSIX: readable and writable by its
// owner only, which the new `path` keeps), reach the disk, and that file is then renamed over
// `path` (a symbolic link there is replaced, not what it points to). POSIX also flushes the
// folder, so that the rename itself survives a crash; a failure of that flush is reported
// although `path` has the new bytes then. Otherwise, on any failure nothing of the attempt
// stays and `path` is as it was. Returns 0 or the errno value (Windows: EACCES while another
// has `path` open, even sharing its deletion, after waiting up to about 50 ms for it to close).
int ReplaceFileContents(const std::string &path, const std::string &bytes);

// Reads the regular file `path` whole into `bytes` (emptied first). A symbolic link under the
// name is not followed (ELOOP; Windows: any reparse point), a folder gives EISDIR, a pipe or
// device EINVAL, a file longer than `limit` bytes EFBIG (read no further). Returns 0 or the
// errno value; `bytes` is empty after a failure.
int ReadFileUpTo(const std::string &path, size_t limit, std::string &bytes);

// A file in a folder, by its name alone, and when its content last changed.
struct FolderEntry {
    std::string name;
    int64_t modified = 0; // seconds since 1970, UTC
};

// The regular files directly in `directory` (ending in a path separator, or empty for the
// working directory): no folders, symbolic links (Windows: reparse points) or other kinds,
// in no particular order. Windows leaves out names the program's strings cannot carry (not
// in the ANSI code page), which no call here could open. Empty when the folder cannot be
// read.
std::vector<FolderEntry> RegularFilesIn(const std::string &directory);

} // namespace platform
