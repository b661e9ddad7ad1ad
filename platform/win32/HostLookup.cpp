// Host lookup on Windows: WSAAsyncGetHostByName, whose answer is posted to the thread's
// notification window; a resolver set by a test runs on a thread of its own instead.
#include "platform/HostLookup.h"

#include "platform/LookupThread.h"
#include "platform/SocketErrors.h"
#include "platform/win32/Window.h"
#include "platform/win32/Winsock.h"

namespace platform {

uint16_t StartHostLookup(const std::string &name, const MessageTarget &target) {
    const uint16_t serial = NextLookupSerial();
    if (Resolver resolve = ReplacedResolver()) {
        ResolveOnThread(name, std::move(resolve), target, serial);
        return serial;
    }
    // A lookup may come before any socket was made: without the start-up, it would fail
    // with WSANOTINITIALISED.
    win32::StartSockets();
    NotifyQueue &queue = *target.OwnerQueue();
    auto *buffer = new char[MAXGETHOSTSTRUCT];
    HANDLE task = WSAAsyncGetHostByName(win32::NotifyWindow(queue), win32::kLookupDoneMessage,
                                        name.c_str(), buffer, MAXGETHOSTSTRUCT);
    if (!task) {
        delete[] buffer;
        // The failure arrives like an answer.
        queue.Post(LookupDoneMessage(target.TargetId(), serial, WSAGetLastError(), 0));
        return serial;
    }
    win32::AddLookup(queue, task, target.TargetId(), serial, buffer);
    return serial;
}

} // namespace platform
