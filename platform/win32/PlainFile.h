#pragma once

// Opening a file for writing without writing through anything planted under its name.

#include <windows.h>

#include <string>

namespace platform::win32 {

// Opens or creates the file `path` for writing (and reading when `read`), for this process
// alone to write while it is open. A folder, a device, a pipe or a reparse point (a symbolic
// link or junction) under the name is refused with EPERM or ELOOP, as is a file with other
// names (hard links) when `soleName`; what is there stays as it was. Returns the handle, or
// INVALID_HANDLE_VALUE with `error` set to the errno value.
HANDLE OpenPlainFile(const std::string &path, bool read, bool soleName, int &error);

} // namespace platform::win32
