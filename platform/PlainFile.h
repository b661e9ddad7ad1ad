#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Creates the file `path` for reading and writing, readable and writable by its owner only,
// or empties the one that is there, as a stdio stream without a buffer of its own (whole
// chunks are written). Nothing planted under the name is written through: a symbolic link,
// a hard link, a pipe, a device, a folder or another user's file under the name is refused
// with `notPlain` set. Returns nullptr on failure with `error` set to the system's error number
// as errno values name it (std::strerror gives its text).
std::FILE *CreatePlainFile(const std::string &path, int &error, bool &notPlain);

// Opens the file `path` (UTF-8) for reading as a binary stdio stream; nullptr with errno set
// when it cannot.
std::FILE *OpenFileForReading(const std::string &path);

} // namespace platform
