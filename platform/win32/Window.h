#pragma once

// What the Windows implementation's files share: each thread's hidden notification window,
// which receives the socket, timer and queue messages of that thread's components.

#include "platform/NotifyQueue.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

namespace platform::win32 {

// The private messages of the notification window.
constexpr UINT kQueuedMessage = WM_USER + 105;     // lParam: a Message posted to the queue
constexpr UINT kStopMessage = WM_USER + 106;       // a stop request (Ctrl+C) arrived

// The notification window of `queue` (made with the queue, on its thread).
HWND NotifyWindow(NotifyQueue &queue);

// Starts the socket's notifications to `target` and returns the window message they arrive
// as. Each registration gets a message number of its own, so that notifications still queued
// for a closed socket are never taken for those of a new socket with the same handle.
UINT RegisterSocket(NotifyQueue &queue, SOCKET socket, uint64_t target);
// Ends a registration: its notifications still queued are dropped.
void UnregisterSocket(NotifyQueue &queue, UINT message);

// Runs `hook` on the queue's thread for each stop request (StopRequests.cpp).
void SetStopHook(NotifyQueue &queue, std::function<void()> hook);

} // namespace platform::win32
