#pragma once

#include <ctime>
#include <string>

namespace platform {

// The system's temporary directory, always ending in "/": $TMPDIR when it is set and not
// empty, else the C library's default (P_tmpdir), else "/tmp/". Asked once; later calls return
// the cached answer. Safe to call from several threads at once, first calls included.
std::string TempDirectory();

// Creates a new empty file "tlv" + a unique part + ".tmp" in TempDirectory, exclusively (no
// other caller, thread or process, gets the same name), and returns its full path. When no
// file can be created there, returns the current local date and time as a day number instead
// (DayNumberText) followed by "-", the process id, "-" and a number that counts the calls, with
// no directory: no two calls give the same name, and no file of that name exists then.
std::string NewTempFileName();

// A local date and time as days since 30 December 1899, the time of day as the fraction,
// written with six digits after the point ("45292.500000" for noon of 1 January 2024).
std::string DayNumberText(const std::tm &localTime, int milliseconds);

// The system's answer for TempDirectory, asked each time (each system's own).
std::string AskTempDirectory();

// For tests only: forgets the cached directory, so that the next call asks again.
void ForgetTempDirectoryForTesting();

} // namespace platform
