// The thread's notification queue on Windows: a hidden (message-only) window of the class
// "PsockWindowClass" per thread. Posted messages (host lookups' answers among them), socket
// notifications (WSAAsyncSelect) and timers (SetTimer) all arrive in the thread's own message
// queue, and the window's procedure hands them to their targets: whatever loop dispatches the
// thread's messages (the wait loops here, a dialog's, a message box's) delivers them.
#include "platform/NotifyQueue.h"

#include "platform/SocketErrors.h"
#include "platform/win32/Window.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace platform {

using win32::kQueuedMessage;
using win32::kStopMessage;

namespace {

std::atomic<uint64_t> nextTargetId{1};
// Messages dispatched per processing pass at most, so that a wait loop re-tests its flags
// even while a chain of read passes keeps posting new work.
constexpr int kMaxDispatchPerPass = 256;
// The message numbers given to socket registrations, in turn.
constexpr UINT kFirstSocketMessage = WM_APP + 0x100;
constexpr UINT kSocketMessages = 0x3000;

const wchar_t *const kWindowClass = L"PsockWindowClass";

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = NotifyWindowProc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = kWindowClass;
        c.cbWndExtra = sizeof(void *);
        RegisterClassExW(&c);
    });
}

} // namespace

struct NotifyQueue::Impl {
    struct Socket {
        SOCKET socket;
        uint64_t target;
    };
    struct Timer {
        uint64_t target;
        uint16_t id;
    };

    std::atomic<HWND> window{nullptr};
    // Owner thread only.
    std::unordered_map<uint64_t, MessageTarget *> targets;
    std::unordered_map<UINT, Socket> sockets;
    UINT nextSocketMessage = 0;
    std::unordered_map<UINT_PTR, Timer> timers;
    UINT_PTR nextTimer = 1;
    std::function<void()> pumpHook;
    std::function<void()> stopHook;

    void Deliver(const Message &m) {
        try {
            if (m.kind == MessageKind::Closure) {
                if (m.closure)
                    m.closure();
                return;
            }
            auto it = targets.find(m.target);
            if (it != targets.end())
                it->second->HandleMessage(m);
        } catch (const std::exception &e) {
            HandleApplicationException(e.what());
        } catch (...) {
            HandleApplicationException("unknown exception");
        }
    }

    // One of the window's own messages; false for anything else.
    bool Handle(UINT message, WPARAM wParam, LPARAM lParam) {
        Message m;
        if (message == kQueuedMessage) {
            std::unique_ptr<Message> posted(reinterpret_cast<Message *>(lParam));
            Deliver(*posted);
            return true;
        }
        if (message >= kFirstSocketMessage && message < kFirstSocketMessage + kSocketMessages) {
            auto it = sockets.find(message);
            if (it == sockets.end() || it->second.socket != static_cast<SOCKET>(wParam))
                return true; // a notification of a socket that is closed by now
            m.kind = MessageKind::SocketEvent;
            m.target = it->second.target;
            m.event = WSAGETSELECTEVENT(lParam);
            m.error = WSAGETSELECTERROR(lParam);
            Deliver(m);
            return true;
        }
        switch (message) {
        case WM_TIMER: {
            auto it = timers.find(wParam);
            if (it == timers.end())
                return false;
            m.kind = MessageKind::Timer;
            m.target = it->second.target;
            m.event = it->second.id;
            Deliver(m);
            return true;
        }
        case kStopMessage:
            if (stopHook) {
                auto hook = stopHook;
                hook();
            }
            return true;
        default:
            return false;
        }
    }

    void Process(bool runHook) {
        // One notification per socket and pass, as readiness is tested once per pass on
        // POSIX: a receive re-enables the read notification at once, and without this a
        // single pass would chain receives and read far ahead of what a wait asked for.
        std::unordered_set<UINT> socketsSeen;
        const HWND own = window.load();
        MSG msg;
        for (int i = 0; i < kMaxDispatchPerPass && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
             ++i) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop that waits for it
                break;
            }
            if (msg.hwnd == own && msg.message >= kFirstSocketMessage &&
                msg.message < kFirstSocketMessage + kSocketMessages &&
                !socketsSeen.insert(msg.message).second) {
                PostMessageW(own, msg.message, msg.wParam, msg.lParam); // the next pass's
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (runHook && pumpHook) {
            auto hook = pumpHook; // the hook may replace itself
            hook();
        }
    }
};

namespace {

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *impl = reinterpret_cast<NotifyQueue::Impl *>(GetWindowLongPtrW(window, 0));
    if (impl && impl->Handle(message, wParam, lParam))
        return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// Ends the thread's window when the thread ends, also while others still hold its queue:
// a window belongs to the thread that made it.
struct WindowOwner {
    std::shared_ptr<NotifyQueue> queue = std::make_shared<NotifyQueue>();
    ~WindowOwner() {
        auto &impl = queue->impl();
        if (HWND window = impl.window.exchange(nullptr))
            DestroyWindow(window);
    }
};

// Each thread's WindowOwner lives in fiber-local storage, whose callback the system runs on
// the ending thread. Not a thread_local object: with mingw-w64, the destructor of a
// thread_local may run after the thread's emulated TLS block was freed, and then read freed
// memory (a worker's end once looped for ever in this destructor that way).
//
// At the process's end the system runs the callback too, after it has stopped the other
// threads wherever they were (perhaps holding a lock the window's end needs): the window then
// goes with the process instead.
std::atomic<bool> processEnding{false};

void CALLBACK ReleaseWindowOwner(void *owner) {
    if (!processEnding)
        delete static_cast<WindowOwner *>(owner);
}

DWORD OwnerSlot() {
    static const DWORD slot = [] {
        std::atexit([] { processEnding = true; });
        return FlsAlloc(ReleaseWindowOwner);
    }();
    return slot;
}

} // namespace

NotifyQueue::NotifyQueue() : impl_(std::make_unique<Impl>()) {
    RegisterWindowClass();
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window)
        SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(impl_.get()));
    impl_->window = window;
}

NotifyQueue::~NotifyQueue() = default;

const std::shared_ptr<NotifyQueue> &NotifyQueue::Current() {
    const DWORD slot = OwnerSlot();
    auto *owner = static_cast<WindowOwner *>(FlsGetValue(slot));
    if (!owner) {
        owner = new WindowOwner;
        FlsSetValue(slot, owner);
    }
    return owner->queue;
}

void NotifyQueue::Post(Message m) {
    HWND window = impl_->window.load();
    auto *posted = new Message(std::move(m));
    if (!window ||
        !PostMessageW(window, win32::kQueuedMessage, 0, reinterpret_cast<LPARAM>(posted)))
        delete posted; // the thread has ended: nobody would take it
}

void NotifyQueue::PostClosure(std::function<void()> fn) {
    Message m;
    m.kind = MessageKind::Closure;
    m.closure = std::move(fn);
    Post(std::move(m));
}

void NotifyQueue::SetTimer(uint64_t target, uint16_t timerId, uint32_t intervalMs) {
    KillTimer(target, timerId);
    const UINT_PTR key = impl_->nextTimer++;
    impl_->timers[key] = {target, timerId};
    ::SetTimer(impl_->window.load(), key, intervalMs, nullptr);
}

void NotifyQueue::KillTimer(uint64_t target, uint16_t timerId) {
    for (auto it = impl_->timers.begin(); it != impl_->timers.end();) {
        if (it->second.target == target && it->second.id == timerId) {
            ::KillTimer(impl_->window.load(), it->first);
            it = impl_->timers.erase(it);
        } else {
            ++it;
        }
    }
}

int NotifyQueue::WakeDescriptor() const { return -1; }

uint64_t NotifyQueue::Register(MessageTarget *target) {
    uint64_t id = nextTargetId++;
    impl_->targets[id] = target;
    return id;
}

void NotifyQueue::Unregister(uint64_t id) {
    impl_->targets.erase(id);
    for (auto it = impl_->timers.begin(); it != impl_->timers.end();) {
        if (it->second.target == id) {
            ::KillTimer(impl_->window.load(), it->first);
            it = impl_->timers.erase(it);
        } else {
            ++it;
        }
    }
}

void ProcessPendingMessages() { NotifyQueue::Current()->impl().Process(true); }

void DispatchPendingMessages() { NotifyQueue::Current()->impl().Process(false); }

namespace {
void SleepThenProcess(int ms, bool runHook) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(ms), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    NotifyQueue::Current()->impl().Process(runHook);
}
} // namespace

void SleepAndProcess(int ms) { SleepThenProcess(ms, true); }

void SleepAndDispatch(int ms) { SleepThenProcess(ms, false); }

void SetThreadPumpHook(std::function<void()> hook) {
    NotifyQueue::Current()->impl().pumpHook = std::move(hook);
}

namespace win32 {

HWND NotifyWindow(NotifyQueue &queue) { return queue.impl().window.load(); }

UINT RegisterSocket(NotifyQueue &queue, SOCKET socket, uint64_t target) {
    auto &impl = queue.impl();
    UINT message = 0;
    for (UINT i = 0; i < kSocketMessages; ++i) {
        message = kFirstSocketMessage + (impl.nextSocketMessage++ % kSocketMessages);
        if (!impl.sockets.count(message))
            break;
    }
    impl.sockets[message] = {socket, target};
    return message;
}

void UnregisterSocket(NotifyQueue &queue, UINT message) { queue.impl().sockets.erase(message); }

void SetStopHook(NotifyQueue &queue, std::function<void()> hook) {
    queue.impl().stopHook = std::move(hook);
}

} // namespace win32
} // namespace platform
