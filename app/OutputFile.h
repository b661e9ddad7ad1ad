#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The output file's name in `directory` (ending in a separator): fileName itself, or, when
// overwriting is off and a file of that name exists, base + "_" + n + extension with the
// first n (1, 2, ...) that is free.
std::string OutputFilePath(const std::string &directory, const std::string &fileName,
                           bool overrideFile,
                           const std::function<bool(const std::string &)> &exists);

// Writes the pieces, in order, into a new file at outputPath (an existing plain file is
// replaced; a symbolic link, pipe or device under that name is an error, nothing is written
// through it), deleting each piece once it is copied. Returns an empty text, or the error
// naming the file and the system's reason; then the partial output and every piece left are
// deleted. `keepGoing` is asked between the parts of a long copy; false stops the join as a
// failure does (the text then names the cancelled operation).
std::string JoinPieces(const std::string &outputPath, const std::vector<std::string> &pieces,
                       const std::function<bool()> &keepGoing = {});

// The size of a file in bytes, or -1 when it cannot be read.
int64_t FileSize(const std::string &path);

// Sets the file's modification time to a date-time (days since 30 December 1899, UTC).
bool SetFileDate(const std::string &path, double dateTime);
