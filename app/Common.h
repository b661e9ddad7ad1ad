#pragma once

#include <cstdint>
#include <string>

// The directory of the running program's executable, ending in the path separator.
std::string ProgramDirectory();

// True when `path` names an existing directory.
bool IsExistingDirectory(const std::string &path);

// Writes `text` to standard error, with its line ends (LF CR, CR LF) as plain line feeds.
void WriteToStandardError(const std::string &text);
// The same on standard output.
void WriteToStandardOutput(const std::string &text);

namespace gui {
class Application;
}

// Launching programs. LaunchProgram starts `FileName` with `Parameters`:
// - `WaitForExit`: runs it and blocks until it has ended;
// - the name "explorer" with "/select,PATH": shows PATH selected in the file manager;
// - otherwise: opens it without waiting (a program or script is run, a document or folder is
//   handed to the desktop's opener), in the folder of the name.
// The parameters become arguments split at blanks outside double quotes (SplitParameters);
// no shell sees the name or the parameters. A failure to start shows the launch error text
// in a message box captioned "ERROR" and returns false.
bool LaunchProgram(const std::string &FileName, const std::string &Parameters, bool WaitForExit);

// Launches the file held open as `file` (a descriptor; on Windows a handle) whose name is
// `FileName`, as LaunchProgram launches that name without parameters, except that on Linux
// what starts is the held file itself and not what the name leads to by then (see
// platform::RunHeldFile). Reports a failure as LaunchProgram does.
bool LaunchHeldFile(intptr_t file, const std::string &FileName, bool WaitForExit);

// The application whose message boxes report launch failures (nullptr: none, and the text
// goes to standard error). Set by whoever owns the application, for its lifetime.
void SetLaunchErrorOwner(gui::Application *app);

// The name as the launcher uses it: in double quotes unless it is empty or its first blank
// is its last character.
std::string QuoteForLaunch(const std::string &FileName);

// The folder of a (possibly quoted) launch name: the text up to its last "/" before the first
// blank outside double quotes, with the double quotes removed; empty without a "/".
std::string LaunchWorkingDirectory(const std::string &quotedName);

// The text shown for a failed launch's result code; `fileName` is the name as quoted.
std::string LaunchErrorText(int code, const std::string &fileName);
