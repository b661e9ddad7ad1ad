#pragma once

#include <cstdint>
#include <string>

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

} // namespace platform
