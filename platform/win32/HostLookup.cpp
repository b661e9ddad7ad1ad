// Host lookup on Windows: WSAAsyncGetHostByName, whose answer is posted to the thread's
// notification window; a resolver set by a test runs on a thread of its own instead.
#include "platform/HostLookup.h"

#include "platform/SocketErrors.h"
#include "platform/win32/Window.h"
#include "platform/win32/Winsock.h"

#include <atomic>
#include <thread>

namespace platform {

uint16_t StartHostLookup(const std::string &name, const MessageTarget &target) {
    static std::atomic<uint16_t> nextSerial{1};
    const uint16_t serial = nextSerial++;
    Resolver resolve = ReplacedResolver();
    auto post = [queue = target.OwnerQueue(), id = target.TargetId(), serial](int code,
                                                                              uint32_t address) {
        Message m;
        m.kind = MessageKind::LookupDone;
        m.target = id;
        m.event = serial;
        m.error = static_cast<uint16_t>(code);
        m.address = code == 0 ? address : 0;
        queue->Post(std::move(m));
    };
    if (resolve) {
        std::thread([name, resolve = std::move(resolve), post] {
            uint32_t address = 0;
            const int code = resolve(name, address);
            post(code, address);
        }).detach();
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
        post(WSAGetLastError(), 0); // the failure arrives like an answer
        return serial;
    }
    win32::AddLookup(queue, task, target.TargetId(), serial, buffer);
    return serial;
}

} // namespace platform
