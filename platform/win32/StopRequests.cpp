// Ctrl+C, Ctrl+Break and the console's close on Windows: the console's control handler runs on
// a thread of its own; it posts the request to the catching thread's notification window.
#include "platform/StopRequests.h"

#include "platform/NotifyQueue.h"
#include "platform/win32/Window.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<HWND> catcher{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (HWND window = catcher.load())
            PostMessageW(window, win32::kStopMessage, 0, 0);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process once this returns: the program gets the moments it
        // needs to stop and clean up (it ends the process itself before this sleep is over).
        NoteSystemEnding();
        if (HWND window = catcher.load())
            PostMessageW(window, win32::kStopMessage, 0, 0);
        Sleep(4000);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void CatchStopRequests(std::function<void()> onStop) {
    NotifyQueue &queue = *NotifyQueue::Current();
    win32::SetStopHook(queue, std::move(onStop));
    catcher = win32::NotifyWindow(queue);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StandardInputWaiting() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return true; // nothing to wait for: the read ends at once
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        // A console: a line is there once a key press of Enter waits among its events.
        DWORD count = 0;
        if (!GetNumberOfConsoleInputEvents(input, &count) || count == 0)
            return false;
        INPUT_RECORD records[64];
        DWORD read = 0;
        if (!PeekConsoleInputW(input, records, 64, &read))
            return true;
        for (DWORD i = 0; i < read; ++i)
            if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
                records[i].Event.KeyEvent.wVirtualKeyCode == VK_RETURN)
                return true;
        return false;
    }
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        // A pipe whose writer has gone reads as its end at once.
        return !PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available > 0;
    }
    return true; // a file: its text is at hand
}

} // namespace platform
