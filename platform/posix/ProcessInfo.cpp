#include "platform/ProcessInfo.h"

#include <malloc.h>

#include <climits>
#include <unistd.h>

namespace platform {

std::vector<std::string> ProcessArguments(int argc, char **argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back(argv[i] ? argv[i] : "");
    return arguments;
}

std::string ProgramPath() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return "";
    return std::string(buffer, static_cast<size_t>(length));
}

char PathSeparator() {
    return '/';
}

void ShareOneHeap() {
#ifdef M_ARENA_MAX
    mallopt(M_ARENA_MAX, 1);
#endif
}

} // namespace platform
