#pragma once

#include "platform/NotifyQueue.h"
#include "platform/Object.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

// Marks the calling thread as the main thread: the one whose queue runs synchronous calls
// and termination callbacks of worker threads. Call once, before any worker starts.
void SetMainThread();
// The main thread's queue (the first caller's of SetMainThread; until then the caller's own).
std::shared_ptr<NotifyQueue> MainThreadQueue();
bool IsMainThread();

// A worker thread: Execute runs on a thread of its own once the thread is started; the
// thread can suspend itself and be resumed, hand calls to the main thread and wait for them,
// and runs OnTerminate on the main thread after Execute has returned.
// Thrown inside a terminated thread by Synchronize; caught around Execute.
struct ThreadTerminated {};

class TThread : public TObject {
  public:
    using TTerminateEvent = std::function<void(TThread *Sender)>;

    TThread();
    // Waits for a started thread to end. Destroy on the main thread, after the thread was
    // told to stop; a derived class whose Execute uses its own members calls WaitFor in its
    // destructor.
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Starts a thread that has not run yet, or wakes one that suspended itself. Never blocks.
    void Resume();
    // True once Execute has returned.
    bool Ended() const { return ended_; }
    // Blocks until Execute has returned (at once if the thread never started).
    void WaitFor();
    // Main thread: asks the thread to end. A Suspend or Synchronize it is blocked in returns
    // (Synchronize by throwing ThreadTerminated, which ends Execute quietly); the call it was
    // waiting for is not run any more. Execute itself should test Terminated().
    void Terminate();
    bool Terminated() const { return terminated_; }

    // Run on the main thread after Execute returns, unless the object is gone by then.
    TTerminateEvent OnTerminate;

  protected:
    virtual void Execute() = 0;
    // Called by the thread itself: blocks until Resume (or Terminate). A Resume that came
    // first is kept.
    void Suspend();
    // Runs fn on the main thread and blocks until it has returned there (also while the main
    // thread sits in a modal loop that processes its queue). Exceptions of fn are rethrown
    // here. On the main thread itself fn simply runs.
    void Synchronize(const std::function<void()> &fn);

  private:
    void Body();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool started_ = false;
    bool resumePending_ = false;
    std::atomic<bool> ended_{false};
    std::atomic<bool> terminated_{false};
    std::thread thread_;
    // Expires with the object, so that a late termination callback finds it gone.
    std::shared_ptr<TThread *> alive_ = std::make_shared<TThread *>(this);
    const std::weak_ptr<TThread *> aliveWeak_ = alive_; // read by the thread, never changed
};

} // namespace platform
