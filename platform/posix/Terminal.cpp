#include "platform/Terminal.h"

#include "platform/StreamBytes.h"

#include <sys/ioctl.h>
#include <termios.h>
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

bool SetInputEcho(bool on) {
    termios mode{};
    if (tcgetattr(STDIN_FILENO, &mode) != 0)
        return false;
    if (on)
        mode.c_lflag |= ECHO;
    else
        mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    return tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}

void WriteStandard(StandardStream stream, const std::string &text) {
    WriteBytes(stream == StandardStream::Error ? stderr : stdout, text);
}

bool ReadStandardLine(std::string &line) {
    return ReadByteLine(stdin, line);
}

} // namespace platform
