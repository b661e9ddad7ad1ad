#include "app/Common.h"

#include "gui/Application.h"
#include "gui/PlainText.h"
#include "platform/Catalogue.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/ProcessInfo.h"
#include "platform/Terminal.h"

#include <algorithm>
#include <cctype>
#include <map>

using platform::Fill;
using platform::Tr;

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

void WriteLine(platform::StandardStream stream, const std::string &text) {
    platform::WriteStandard(stream, gui::PlainLineEnds(text) + "\n");
}

} // namespace

void WriteToStandardError(const std::string &text) {
    WriteLine(platform::StandardStream::Error, text);
}

void WriteToStandardOutput(const std::string &text) {
    WriteLine(platform::StandardStream::Output, text);
}

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
    using platform::TrKey;
    // The system's reasons why a program could not be started, by its error code.
    static const std::map<int, const char *> fixed = {
        {0, TrKey("System was out of memory, executable file was corrupt, or relocations were "
                  "invalid.")},
        {5, TrKey("Attempt was made to dynamically link to a task, or there was a sharing or "
                  "network-protection error.")},
        {6, TrKey("Library required separate data segments for each task.")},
        {8, TrKey("There was insufficient memory to start the application.")},
        {10, TrKey("Windows version was incorrect.")},
        {11, TrKey("Executable file was invalid. Either it was not a Windows application or "
                   "there was an error in the .EXE image.")},
        {12, TrKey("Application was designed for a different operating system.")},
        {13, TrKey("Application was designed for MS-DOS 4.0.")},
        {14, TrKey("Type of executable file was unknown.")},
        {15, TrKey("Attempt was made to load a real-mode application (developed for an earlier "
                   "version of Windows).")},
        {16, TrKey("Attempt was made to load a second instance of an executable file containing "
                   "multiple data segments that were not marked read-only.")},
        {19, TrKey("Attempt was made to load a compressed executable file. The file must be "
                   "decompressed before it can be loaded.")},
        {20, TrKey("Dynamic-link library (DLL) file was invalid. One of the DLLs required to run "
                   "this application was corrupt.")},
        {21, TrKey("Application requires 32-bit extensions.")},
    };
    if (code == 2)
        // TRANSLATORS: %1 is the file that was to be started.
        return Fill(Tr("File was not found (%1)."), {fileName});
    if (code == 3)
        // TRANSLATORS: %1 is the file that was to be started.
        return Fill(Tr("Path was not found (%1)."), {fileName});
    auto found = fixed.find(code);
    if (found != fixed.end())
        return Tr(found->second);
    // TRANSLATORS: %1 is the file that was to be started.
    return Fill(Tr("The application could not be executed (%1)."), {fileName});
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
        // TRANSLATORS: the caption of a box that says what went wrong.
        launchErrorOwner->MessageBox(text, Tr("ERROR"), gui::MessageButtons::Ok);
    else
        // TRANSLATORS: a line on standard error; %1 is why a program could not be started.
        WriteToStandardError(Fill(Tr("ERROR: %1"), {text}));
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
