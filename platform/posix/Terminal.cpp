#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

bool IsTerminal(StandardStream stream) {
    int fd = stream == StandardStream::Input    ? STDIN_FILENO
             : stream == StandardStream::Output ? STDOUT_FILENO
                                                : STDERR_FILENO;
    return isatty(fd) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

const char *EraseLineSequence() { return "\x1b[K"; }

} // namespace platform
