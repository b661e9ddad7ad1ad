#pragma once

// The byte form of the standard streams, which every system uses for files and pipes.

#include <cstdio>
#include <string>

namespace platform {

// Writes all of `text` to `stream` and flushes it.
void WriteBytes(std::FILE *stream, const std::string &text);

// Reads bytes up to a line feed into `line`, without the line end (LF or CR LF); false at the
// end of the input with nothing read.
bool ReadByteLine(std::FILE *stream, std::string &line);

} // namespace platform
