#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Launch result codes. A launch that started its program returns kLaunchSucceeded (any code
// of 32 or more means success); a failed one returns the launch error code that fits the
// system's error, so that the user sees the launcher's own error texts.
enum LaunchCode : int {
    kLaunchSucceeded = 32,
    kLaunchFileNotFound = 2,
    kLaunchPathNotFound = 3,
    kLaunchAccessDenied = 5,
    kLaunchBadFormat = 11,
    kLaunchFailed = -1, // the process could not be created for any other reason
};

// Maps the system's error of a failed start (an errno value; on Windows a GetLastError code)
// onto the launch codes above.
int LaunchCodeFromSystem(int systemError);

// Splits a parameters text into arguments: blanks and tabs outside double quotes separate
// them, double quotes group blanks into one argument and are themselves dropped. No other
// character is special; nothing is ever interpreted by a shell.
std::vector<std::string> SplitParameters(const std::string &parameters);

// Runs `program` with `arguments` and blocks until it has ended; its exit status is not
// used. On Windows this is CreateProcess with the quoted command line. On POSIX systems a
// program name without "/" is searched in PATH, and a regular file that is an ELF image or a
// "#!" script gets its execute bits first (a downloaded file has none).
int RunAndWait(const std::string &program, const std::vector<std::string> &arguments);

// Opens `path` without waiting, in `workingDirectory` when that is not empty. On Windows the
// shell's verb "open" (ShellExecuteA) with the arguments as its parameters. On POSIX systems
// an executable or a script is run directly with `arguments` (its execute bits set first); a
// name without "/" that names no file here is searched in PATH; anything else (documents,
// folders) goes to the desktop opener xdg-open. The started process is reaped in the
// background.
int OpenPath(const std::string &path, const std::vector<std::string> &arguments,
             const std::string &workingDirectory);

// Runs the regular file held open as `file` (a descriptor open for reading; on Windows a
// handle), whose name is `path`, as RunAndWait (with `wait`) or OpenPath would run `path`. On
// POSIX systems what starts is the held file itself, whatever `path` leads to by then: its
// execute bits are set through the descriptor and the process is started from it (fexecve),
// never from a name. A "#!" script's interpreter reads it through /dev/fd/3; a script of sh,
// bash or dash (also through env) is sourced from there by its shell, so that its $0 is still
// `path`. A file that is neither an ELF image, a "#!" script nor executable is a document:
// without `wait` it goes to the desktop opener by `path` (no opener takes a descriptor), with
// `wait` it is refused (kLaunchAccessDenied) as RunAndWait refuses it. On Windows, where the
// handle keeps others from writing, moving or deleting the file, `path` is started.
int RunHeldFile(intptr_t file, const std::string &path, const std::vector<std::string> &arguments,
                const std::string &workingDirectory, bool wait);

// Shows `path` selected in the file manager: on Windows "explorer /select,"; on POSIX systems
// org.freedesktop.FileManager1 over the session bus (through dbus-send), and when that fails
// the folder holding `path` opened with xdg-open. Returns without waiting for either.
int ShowInFileManager(const std::string &path);

} // namespace platform
