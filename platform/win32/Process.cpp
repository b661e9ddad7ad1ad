// Starting programs on Windows: CreateProcessW for a start that waits, ShellExecuteW with the
// verb "open" for one that does not, and "explorer /select," to show a file in its folder.
#include "platform/Process.h"

#include "platform/win32/Text.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {
namespace {

// One argument as the C runtime of the started program splits it back: in double quotes when
// it has blanks or quotes, with the backslashes before a quote doubled.
std::string Quoted(const std::string &argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

std::string Joined(const std::vector<std::string> &arguments) {
    std::string text;
    // Appended piece by piece: `"literal" + temporary` trips a false -Wrestrict in gcc 12.
    for (const std::string &a : arguments) {
        if (!text.empty())
            text += ' ';
        text += Quoted(a);
    }
    return text;
}

// ShellExecuteW's result: 32 and below are its error codes, the launcher's own.
int ShellResult(HINSTANCE result) {
    const auto code = reinterpret_cast<INT_PTR>(result);
    if (code > 32)
        return kLaunchSucceeded;
    // 32 is SE_ERR_DLLNOTFOUND, a failure, though launch codes of 32 and more mean success.
    return code == 32 ? kLaunchFailed : static_cast<int>(code);
}

} // namespace

int LaunchCodeFromSystem(int systemError) {
    switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
        return kLaunchFileNotFound;
    case ERROR_PATH_NOT_FOUND:
        return kLaunchPathNotFound;
    case ERROR_ACCESS_DENIED:
        return kLaunchAccessDenied;
    case ERROR_BAD_EXE_FORMAT:
        return kLaunchBadFormat;
    default:
        return kLaunchFailed;
    }
}

int RunAndWait(const std::string &program, const std::vector<std::string> &arguments) {
    std::string line = Quoted(program);
    if (!arguments.empty()) {
        line += ' ';
        line += Joined(arguments);
    }
    // The line is quoted in UTF-8 (whose bytes beyond ASCII are never a blank, a quote or a
    // backslash) and widened whole; CreateProcessW may write into it.
    std::wstring wide = win32::Widen(line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return LaunchCodeFromSystem(static_cast<int>(GetLastError()));
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return kLaunchSucceeded;
}

int OpenPath(const std::string &path, const std::vector<std::string> &arguments,
             const std::string &workingDirectory) {
    const std::wstring file = win32::Widen(path);
    const std::wstring parameters = win32::Widen(Joined(arguments));
    const std::wstring folder = win32::Widen(workingDirectory);
    return ShellResult(ShellExecuteW(nullptr, L"open", file.c_str(),
                                     parameters.empty() ? nullptr : parameters.c_str(),
                                     folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL));
}

int RunHeldFile(intptr_t, const std::string &path, const std::vector<std::string> &arguments,
                const std::string &workingDirectory, bool wait) {
    // The held handle lets nobody write, move or delete the file: its name still leads to it.
    return wait ? RunAndWait(path, arguments) : OpenPath(path, arguments, workingDirectory);
}

int ShowInFileManager(const std::string &path) {
    const std::wstring parameters = win32::Widen("/select," + Quoted(path));
    return ShellResult(
        ShellExecuteW(nullptr, L"open", L"explorer", parameters.c_str(), nullptr, SW_SHOWNORMAL));
}

} // namespace platform
