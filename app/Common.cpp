#include "app/Common.h"

#include "gui/Application.h"
#include "gui/PlainText.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/ProcessInfo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

std::string ProgramDirectory() {
    std::string path = platform::ProgramPath();
    std::size_t separator = path.find_last_of(platform::PathSeparator());
    if (separator == std::string::npos) {
        // Unknown program path: fall back to the working directory.
        std::string current = platform::CurrentDirectory();
        return current.empty() ? std::string(1, platform::PathSeparator())
                               : current + platform::PathSeparator();
    }
    return path.substr(0, separator + 1);
}

bool IsExistingDirectory(const std::string &path) {
    return !path.empty() && platform::IsDirectory(path);
}

namespace {

void WriteLine(std::FILE *stream, const std::string &text) {
    const std::string line = gui::PlainLineEnds(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

} // namespace

void WriteToStandardError(const std::string &text) { WriteLine(stderr, text); }

void WriteToStandardOutput(const std::string &text) { WriteLine(stdout, text); }

namespace {

gui::Application *launchErrorOwner = nullptr;

// The name to start: a caller may have put a path with blanks in double quotes already, and
// the quotes are not part of the file's name.
std::string WithoutEnclosingQuotes(const std::string &name) {
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        return name.substr(1, name.size() - 2);
    return name;
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The file manager's program name, which takes "/select,PATH".
bool IsFileManager(const std::string &name) {
    std::string lowered = Lowered(name);
    return lowered == "explorer" || lowered == "explorer.exe";
}

} // namespace

std::string QuoteForLaunch(const std::string &FileName) {
    std::size_t blank = FileName.find(' ');
    if (FileName.empty() || (blank != std::string::npos && blank == FileName.size() - 1))
        return FileName;
    return '"' + FileName + '"';
}

std::string LaunchWorkingDirectory(const std::string &quotedName) {
    bool inQuotes = false;
    std::size_t end = 0; // one past the last separator seen
    for (std::size_t i = 0; i < quotedName.size(); ++i) {
        char c = quotedName[i];
        if (c == '"')
            inQuotes = !inQuotes;
        else if (c == '/' || c == platform::PathSeparator())
            end = i + 1;
        else if (c == ' ' && !inQuotes)
            break;
    }
    std::string directory = quotedName.substr(0, end);
    directory.erase(std::remove(directory.begin(), directory.end(), '"'), directory.end());
    return directory;
}

std::string LaunchErrorText(int code, const std::string &fileName) {
    static const std::map<int, std::string> fixed = {
        {0, "System was out of memory, executable file was corrupt, or relocations were invalid."},
        {5, "Attempt was made to dynamically link to a task, or there was a sharing or "
            "network-protection error."},
        {6, "Library required separate data segments for each task."},
        {8, "There was insufficient memory to start the application."},
        {10, "Windows version was incorrect."},
        {11, "Executable file was invalid. Either it was not a Windows application or there was "
             "an error in the .EXE image."},
        {12, "Application was designed for a different operating system."},
        {13, "Application was designed for MS-DOS 4.0."},
        {14, "Type of executable file was unknown."},
        {15, "Attempt was made to load a real-mode application (developed for an earlier "
             "version of Windows)."},
        {16, "Attempt was made to load a second instance of an executable file containing "
             "multiple data segments that were not marked read-only."},
        {19, "Attempt was made to load a compressed executable file. The file must be "
             "decompressed before it can be loaded."},
        {20, "Dynamic-link library (DLL) file was invalid. One of the DLLs required to run this "
             "application was corrupt."},
        {21, "Application requires 32-bit extensions."},
    };
    if (code == 2)
        return "File was not found (" + fileName + ").";
    if (code == 3)
        return "Path was not found (" + fileName + ").";
    auto found = fixed.find(code);
    if (found != fixed.end())
        return found->second;
    return "The application could not be executed (" + fileName + ").";
}

void SetLaunchErrorOwner(gui::Application *app) {
    launchErrorOwner = app;
}

namespace {

// A launch's result as the launcher tells it: true when it started; otherwise the launch error
// text in a box captioned "ERROR" (or on standard error), and false. A waiting start that
// cannot create its process reports the generic failure.
bool Launched(int result, bool waited, const std::string &name) {
    if (result >= platform::kLaunchSucceeded)
        return true;
    std::string text = LaunchErrorText(waited ? platform::kLaunchFailed : result, name);
    if (launchErrorOwner)
        launchErrorOwner->MessageBox(text, "ERROR", gui::MessageButtons::Ok);
    else
        WriteToStandardError("ERROR: " + text);
    return false;
}

} // namespace

bool LaunchProgram(const std::string &FileName, const std::string &Parameters, bool WaitForExit) {
    std::string name = QuoteForLaunch(FileName);
    std::string directory = LaunchWorkingDirectory(name);
    // No version query: this platform has no start that depends on the system's version
    // (the command-line start of one old system has no counterpart here).
    std::string program = WithoutEnclosingQuotes(FileName);
    const std::string select = "/select,";
    int result;
    if (WaitForExit) {
        result = platform::RunAndWait(program, platform::SplitParameters(Parameters));
    } else if (IsFileManager(program) && Lowered(Parameters.substr(0, select.size())) == select) {
        result =
            platform::ShowInFileManager(WithoutEnclosingQuotes(Parameters.substr(select.size())));
    } else {
        result = platform::OpenPath(program, platform::SplitParameters(Parameters), directory);
    }
    return Launched(result, WaitForExit, name);
}

bool LaunchHeldFile(intptr_t file, const std::string &FileName, bool WaitForExit) {
    const std::string name = QuoteForLaunch(FileName);
    // The working directory as LaunchProgram's: the file's folder unless the start waits.
    const int result =
        platform::RunHeldFile(file, WithoutEnclosingQuotes(FileName), {},
                              WaitForExit ? "" : LaunchWorkingDirectory(name), WaitForExit);
    return Launched(result, WaitForExit, name);
}
