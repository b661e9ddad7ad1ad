#include "platform/Terminal.h"

#include "platform/StreamBytes.h"
#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE StreamHandle(StandardStream stream) {
    return GetStdHandle(stream == StandardStream::Input    ? STD_INPUT_HANDLE
                        : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                           : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

} // namespace

bool IsTerminal(StandardStream stream) {
    return IsConsole(StreamHandle(stream));
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

void WriteStandard(StandardStream stream, const std::string &text) {
    std::FILE *file = stream == StandardStream::Error ? stderr : stdout;
    HANDLE console = StreamHandle(stream);
    if (!IsConsole(console)) {
        WriteBytes(file, text);
        return;
    }
    std::fflush(file); // what the C runtime still holds comes first
    const std::wstring wide = win32::Widen(text);
    const wchar_t *next = wide.data();
    for (size_t left = wide.size(); left > 0;) {
        DWORD wrote = 0;
        if (!WriteConsoleW(console, next, static_cast<DWORD>(left), &wrote, nullptr) || wrote == 0)
            return;
        next += wrote;
        left -= wrote;
    }
}

bool ReadStandardLine(std::string &line) {
    HANDLE console = StreamHandle(StandardStream::Input);
    if (!IsConsole(console))
        return ReadByteLine(stdin, line);
    // The console's own line editing hands over whole lines ending in CR LF, in pieces when
    // they are longer than the buffer. Nothing read (Ctrl+C, Ctrl+Z, an error) ends it.
    std::wstring wide;
    wchar_t piece[256];
    DWORD got = 0;
    while (ReadConsoleW(console, piece, 256, &got, nullptr) && got > 0) {
        wide.append(piece, got);
        if (wide.back() == L'\n')
            break;
    }
    const bool ended = !wide.empty() && wide.back() == L'\n';
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r'))
        wide.pop_back();
    line = win32::Narrow(wide.c_str(), wide.size());
    return ended || !line.empty();
}

} // namespace platform
