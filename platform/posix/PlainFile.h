#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The descriptor-level pieces of the POSIX implementation (CreatePlainFile, the join and the
// library loader build on them).

// Opens `path` for reading and writing, creating it with `permissions` (less the umask) when
// it does not exist, without emptying it. Nothing planted under the name is opened: not a
// symbolic link (ELOOP), nor a pipe, device or folder (EPERM; the open does not wait for a
// pipe's other end). With `ownSoleName` an existing file must also belong to this user and
// have no other name (EPERM). Returns the descriptor, or -1 with `error` set.
int OpenPlainFile(const std::string &path, unsigned permissions, bool ownSoleName, int &error);

// Writes all `size` bytes to the descriptor `fd`, again after an interruption: false with
// errno set when a write fails.
bool WriteAll(int fd, const void *data, size_t size);

} // namespace platform
