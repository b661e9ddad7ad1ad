#include "platform/ProcessInfo.h"

#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {

std::vector<std::string> ProcessArguments(int argc, char **argv) {
    // The process's command line as UTF-16 (the ANSI form loses what its code page lacks), by
    // the system's usual rules: characters with codes 1 to 32 separate arguments, a double
    // quote opens or closes a stretch in which they do not, and quotes are never part of an
    // argument. Argument 0 is the program's full path.
    std::vector<std::string> arguments{ProgramPath()};
    const wchar_t *p = GetCommandLineW();
    if (!p)
        return argc > 0 && argv[0] ? std::vector<std::string>{argv[0]} : arguments;
    std::vector<std::string> words;
    for (;;) {
        while (*p >= 1 && *p <= 32)
            ++p;
        if (*p == 0)
            break;
        std::wstring word;
        bool quoted = false;
        for (; *p != 0 && (quoted || *p > 32); ++p) {
            if (*p == L'"')
                quoted = !quoted;
            else
                word += *p;
        }
        // Narrowed whole: a surrogate pair stays one character.
        words.push_back(win32::Narrow(word.c_str(), word.size()));
    }
    arguments.insert(arguments.end(), words.begin() + (words.empty() ? 0 : 1), words.end());
    return arguments;
}

std::string ProgramPath() {
    // Grown until the path fits: a long path may pass MAX_PATH.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return "";
        if (length < buffer.size())
            return win32::Narrow(buffer.c_str(), length);
        if (buffer.size() >= 32768)
            return "";
        buffer.resize(buffer.size() * 2);
    }
}

char PathSeparator() { return '\\'; }

void ShareOneHeap() {}

} // namespace platform
