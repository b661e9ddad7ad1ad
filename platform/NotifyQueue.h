#pragma once

#include "platform/IpAddress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

// The kinds of message a thread's notification queue carries.
enum class MessageKind : uint8_t {
    SocketEvent,  // a network event of a socket: event code and error code
    LookupDone,   // an asynchronous host lookup ended: error code and addresses
    WritePending, // a component asks itself to send its next chunk
    ReadPending,  // a component asks itself to read its next chunk
    Timer,        // a timer of the target is due
    Closure,      // run a function on the owning thread (no target)
};

struct Message {
    MessageKind kind = MessageKind::Closure;
    uint64_t target = 0;  // id of the receiving MessageTarget
    uint16_t event = 0;   // socket event code, or timer id
    uint16_t error = 0;   // socket error code, 0 for none
    // Lookup result: every address of the name, in the resolver's order; null on failure.
    std::shared_ptr<const std::vector<IpAddress>> addresses;
    std::function<void()> closure;
};

class NotifyQueue;

// Something that receives messages on the thread that created it (the role of a hidden
// window). Messages posted to a target that has been destroyed are dropped.
class MessageTarget {
  public:
    MessageTarget();
    virtual ~MessageTarget();
    MessageTarget(const MessageTarget &) = delete;
    MessageTarget &operator=(const MessageTarget &) = delete;

    uint64_t TargetId() const { return id_; }
    // Posts a message to this target's queue; safe from any thread, never blocks.
    void PostToSelf(Message m) const;
    // The queue of the thread that created this target.
    const std::shared_ptr<NotifyQueue> &OwnerQueue() const { return queue_; }

    // Called on the owning thread, from inside that thread's message processing.
    virtual void HandleMessage(const Message &m) = 0;

  private:
    std::shared_ptr<NotifyQueue> queue_;
    uint64_t id_;
};

// One queue per thread, created on first use. Any thread may post to it; only the owning
// thread processes it.
class NotifyQueue {
  public:
    // The calling thread's queue.
    static const std::shared_ptr<NotifyQueue> &Current();

    NotifyQueue();
    ~NotifyQueue();
    NotifyQueue(const NotifyQueue &) = delete;
    NotifyQueue &operator=(const NotifyQueue &) = delete;

    // Safe from any thread; wakes the owner if it is blocked. Never blocks.
    void Post(Message m);
    // Runs fn on the owning thread at its next message processing. Safe from any thread.
    void PostClosure(std::function<void()> fn);

    // Owning thread only: timer `timerId` of `target` becomes due every `intervalMs`
    // milliseconds (a due timer is delivered once, however late it is processed).
    void SetTimer(uint64_t target, uint16_t timerId, uint32_t intervalMs);
    void KillTimer(uint64_t target, uint16_t timerId);

    // A descriptor that is readable while messages posted from other threads wait, a timer
    // of this thread is due or a stop request has arrived, for a toolkit whose own loop waits
    // on descriptors (it then calls DispatchPendingMessages).
    int WakeDescriptor() const;

    // Owning thread only; used by MessageTarget.
    uint64_t Register(MessageTarget *target);
    void Unregister(uint64_t id);

    struct Impl;
    Impl &impl() { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

// Processes the calling thread's pending messages without blocking: turns socket readiness
// into socket events, fires due timers, dispatches queued messages, then runs the thread's
// pump hook (the GUI toolkit's own event processing on the main thread).
void ProcessPendingMessages();

// As ProcessPendingMessages, but without the pump hook: for a toolkit's own loop, which
// handles its events itself.
void DispatchPendingMessages();

// Blocks at most `ms` milliseconds until a message, a socket event or a timer is due on the
// calling thread, then processes pending messages as above.
void SleepAndProcess(int ms = 2);

// As SleepAndProcess, but without the pump hook.
void SleepAndDispatch(int ms);

// Sets the function ProcessPendingMessages runs last on the calling thread (empty to clear).
void SetThreadPumpHook(std::function<void()> hook);

// Where exceptions thrown by timer handlers go (the application's exception handler).
// The default writes the message to standard error.
void SetApplicationExceptionHandler(std::function<void(const char *what)> handler);
void HandleApplicationException(const char *what);

} // namespace platform
