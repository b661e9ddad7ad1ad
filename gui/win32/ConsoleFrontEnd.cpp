#include "gui/win32/ConsoleFrontEnd.h"

#include <windows.h>

#include <cstdio>

namespace gui::win32 {

namespace {

bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

void ConnectConsoleFrontEnd() {
    if (GetConsoleWindow() || GetConsoleCP() != 0)
        return; // a console is there already
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE inherited[3];
    for (int i = 0; i < 3; ++i)
        inherited[i] = GetStdHandle(kinds[i]);
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && !AllocConsole())
        return;
    // Attaching replaces the standard handles with the console's: redirected ones come back.
    for (int i = 0; i < 3; ++i)
        if (Usable(inherited[i]))
            SetStdHandle(kinds[i], inherited[i]);
    // The C runtime's streams that had no handle at start are opened on the console.
    if (!Usable(inherited[0]))
        std::freopen("CONIN$", "r", stdin);
    if (!Usable(inherited[1]))
        std::freopen("CONOUT$", "w", stdout);
    if (!Usable(inherited[2]))
        std::freopen("CONOUT$", "w", stderr);
    // A program of the graphical subsystem starts with Ctrl+C ignored.
    SetConsoleCtrlHandler(nullptr, FALSE);
}

} // namespace gui::win32
