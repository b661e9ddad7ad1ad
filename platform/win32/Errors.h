#pragma once

// The Windows system errors of files turned into the errno values the portable interfaces
// report, and the system's own text of an error.

#include <windows.h>

#include <string>

namespace platform::win32 {

// The errno value closest to a Windows error code of a file operation (EIO for the rest).
int ErrnoFromSystemError(DWORD code);

// The system's message for `code`, without the line break it ends with ("" when none).
std::string SystemErrorText(DWORD code);

} // namespace platform::win32
