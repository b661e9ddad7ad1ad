#include "platform/ProcessInfo.h"

#include <windows.h>

namespace platform {

std::vector<std::string> ProcessArguments(int argc, char **argv) {
    // The process's command line by the system's usual rules: characters with codes 1 to 32
    // separate arguments, a double quote opens or closes a stretch in which they do not, and
    // quotes are never part of an argument. Argument 0 is the program's full path.
    std::vector<std::string> arguments{ProgramPath()};
    const char *line = GetCommandLineA();
    if (!line)
        return argc > 0 && argv[0] ? std::vector<std::string>{argv[0]} : arguments;
    std::vector<std::string> words;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(line);
    for (;;) {
        while (*p >= 1 && *p <= 32)
            ++p;
        if (*p == 0)
            break;
        std::string word;
        bool quoted = false;
        for (; *p != 0 && (quoted || *p > 32); ++p) {
            if (*p == '"')
                quoted = !quoted;
            else
                word += static_cast<char>(*p);
        }
        words.push_back(word);
    }
    arguments.insert(arguments.end(), words.begin() + (words.empty() ? 0 : 1), words.end());
    return arguments;
}

std::string ProgramPath() {
    char buffer[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return "";
    return std::string(buffer, length);
}

char PathSeparator() { return '\\'; }

void ShareOneHeap() {}

} // namespace platform
