#include "platform/Thread.h"

#include <chrono>
#include <exception>

namespace platform {
namespace {

std::mutex mainMutex;
std::shared_ptr<NotifyQueue> mainQueue;
std::thread::id mainId;

} // namespace

void SetMainThread() {
    std::lock_guard lock(mainMutex);
    if (!mainQueue) {
        mainQueue = NotifyQueue::Current();
        mainId = std::this_thread::get_id();
    }
}

std::shared_ptr<NotifyQueue> MainThreadQueue() {
    {
        std::lock_guard lock(mainMutex);
        if (mainQueue)
            return mainQueue;
    }
    return NotifyQueue::Current();
}

bool IsMainThread() {
    std::lock_guard lock(mainMutex);
    return mainQueue ? std::this_thread::get_id() == mainId : true;
}

TThread::TThread() = default;

TThread::~TThread() {
    alive_.reset();
    WaitFor();
}

void TThread::Resume() {
    std::lock_guard lock(mutex_);
    if (!started_) {
        started_ = true;
        thread_ = std::thread([this] { Body(); });
        return;
    }
    resumePending_ = true;
    wake_.notify_all();
}

void TThread::WaitFor() {
    std::thread t;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id())
            return;
        t = std::move(thread_);
    }
    t.join();
}

void TThread::Terminate() {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    wake_.notify_all();
}

void TThread::Suspend() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return resumePending_ || terminated_; });
    resumePending_ = false;
}

void TThread::Synchronize(const std::function<void()> &fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    struct Call {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::exception_ptr error;
    };
    auto call = std::make_shared<Call>();
    MainThreadQueue()->PostClosure([call, &fn, alive = aliveWeak_, this] {
        // Terminate runs on the main thread too, so it cannot come while fn runs; once it has
        // come, the waiting thread no longer waits and fn must not run.
        if (alive.expired() || terminated_)
            return;
        std::exception_ptr error;
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(call->mutex);
            call->error = error;
            call->finished = true;
        }
        // Outside the lock, so the woken thread does not block on it at once; this closure
        // shares the call, which stays alive even when the waiting thread has already left.
        call->done.notify_all();
    });
    std::unique_lock lock(call->mutex);
    while (
        !call->done.wait_for(lock, std::chrono::milliseconds(10), [&] { return call->finished; }))
        if (terminated_)
            throw ThreadTerminated{};
    if (call->error)
        std::rethrow_exception(call->error);
}

void TThread::Body() {
    try {
        Execute();
    } catch (const ThreadTerminated &) {
        // Ended on request.
    } catch (const std::exception &e) {
        HandleApplicationException(e.what());
    } catch (...) {
        HandleApplicationException("unknown exception in a thread");
    }
    ended_ = true;
    MainThreadQueue()->PostClosure([alive = aliveWeak_] {
        if (auto self = alive.lock(); self && (*self)->OnTerminate)
            (*self)->OnTerminate(*self);
    });
}

} // namespace platform
