#include "platform/Terminal.h"

#include <windows.h>

namespace platform {

namespace {
HANDLE StreamHandle(StandardStream stream) {
    return GetStdHandle(stream == StandardStream::Input    ? STD_INPUT_HANDLE
                        : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                           : STD_ERROR_HANDLE);
}
} // namespace

bool IsTerminal(StandardStream stream) {
    DWORD mode = 0;
    return GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

bool SetInputEcho(bool on) {
    HANDLE input = StreamHandle(StandardStream::Input);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode))
        return false;
    mode = on ? mode | ENABLE_ECHO_INPUT : mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
    return SetConsoleMode(input, mode) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(StreamHandle(StandardStream::Output), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

} // namespace platform
