#include "platform/NotifyQueue.h"

#include "platform/posix/PollSource.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace platform {

using Clock = std::chrono::steady_clock;

namespace {
std::atomic<uint64_t> nextTargetId{1};
// Messages dispatched per processing pass at most, so that a wait loop re-tests its flags
// even while a chain of read passes keeps posting new work.
constexpr int kMaxDispatchPerPass = 256;

} // namespace

struct NotifyQueue::Impl {
    struct TimerEntry {
        uint64_t target;
        uint16_t id;
        std::chrono::milliseconds interval;
        Clock::time_point due;
        bool pending; // a Timer message is queued and not yet dispatched
    };

    std::thread::id owner = std::this_thread::get_id();
    int wakeFd = -1;
    // Readable when the next timer is due; armed for the earliest one.
    int timerFd = -1;
    // Readable while the wake-up descriptor or the timer descriptor is: what a toolkit's loop
    // waits on, so that the thread's timers run there as they do in the queue's own waits.
    int loopFd = -1;
    Clock::time_point armedFor = Clock::time_point::max();
    std::atomic<bool> signaled{false};

    std::mutex mutex;
    std::deque<Message> messages;

    // Owner thread only.
    std::unordered_map<uint64_t, MessageTarget *> targets;
    std::vector<posix::PollSource *> sources;
    std::vector<TimerEntry> timers;
    std::function<void()> pumpHook;
    std::function<void()> stopHook;
    unsigned stopsHandled = 0;
    std::vector<pollfd> pollSet;
    std::vector<posix::PollSource *> polled;

    void Wake(MessageKind kind) {
        // The owner looks at its queue before it blocks in its own waits; a closure it posts
        // to itself may be meant for a toolkit loop that waits on the descriptor, though.
        if (kind != MessageKind::Closure && std::this_thread::get_id() == owner)
            return;
        if (!signaled.exchange(true)) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t r = write(wakeFd, &one, sizeof one);
        }
    }

    void ClearWake() {
        // Drain the descriptor first, then clear the mark: cleared the other way round, a
        // post landing in between would leave the mark set with nothing to read, and every
        // later post would skip its write, so a loop waiting on the descriptor never wakes.
        // The read is made whatever the mark says: a poster may have set the mark and not yet
        // written, and its write must not stay unread once the mark is clear.
        uint64_t v;
        [[maybe_unused]] ssize_t r = read(wakeFd, &v, sizeof v);
        signaled.store(false);
        // A timer descriptor that fired is armed again for whatever is due next, also when
        // that is the same moment (it fired after the due timers were queued).
        if (read(timerFd, &v, sizeof v) == static_cast<ssize_t>(sizeof v))
            armedFor = Clock::time_point::max();
    }

    // Arms the timer descriptor for the earliest timer that is not queued already (or
    // disarms it), so that a loop waiting on loopFd wakes when that timer becomes due.
    void ArmForNextTimer() {
        Clock::time_point next = Clock::time_point::max();
        for (const auto &t : timers)
            if (!t.pending)
                next = std::min(next, t.due);
        if (next == armedFor)
            return;
        armedFor = next;
        itimerspec due{};
        if (next != Clock::time_point::max()) {
            // Relative, at least 1 ns: a zero value would disarm a timer that is due now.
            const auto left = std::max<Clock::duration::rep>(
                1,
                std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count());
            due.it_value.tv_sec = static_cast<time_t>(left / 1000000000);
            due.it_value.tv_nsec = static_cast<long>(left % 1000000000);
        }
        timerfd_settime(timerFd, 0, &due, nullptr);
    }

    // Messages left over after a pass keep the descriptor readable, so that a loop waiting
    // on it comes back for them.
    void WakeForLeftovers() {
        if (HasMessages() && !signaled.exchange(true)) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t r = write(wakeFd, &one, sizeof one);
        }
    }

    bool HasMessages() {
        std::lock_guard lock(mutex);
        return !messages.empty();
    }

    // Polls the wake-up descriptor and the sources; turns readiness into messages.
    void Poll(int timeoutMs) {
        pollSet.clear();
        polled.clear();
        pollSet.push_back({wakeFd, POLLIN, 0});
        for (auto *s : sources) {
            short ev = s->PollEvents();
            if (ev == 0)
                continue;
            pollSet.push_back({s->PollFd(), ev, 0});
            polled.push_back(s);
        }
        int n = poll(pollSet.data(), pollSet.size(), timeoutMs);
        if (n <= 0)
            return;
        for (size_t i = 1; i < pollSet.size(); ++i)
            if (pollSet[i].revents != 0)
                polled[i - 1]->PollResult(pollSet[i].revents);
    }

    int MillisecondsToNextTimer(int limit) {
        auto now = Clock::now();
        for (auto &t : timers) {
            if (t.pending)
                continue;
            if (t.due <= now)
                return 0;
            auto left = std::chrono::ceil<std::chrono::milliseconds>(t.due - now).count();
            limit = std::min<int>(limit, static_cast<int>(left));
        }
        return limit;
    }

    void QueueDueTimers() {
        auto now = Clock::now();
        for (auto &t : timers) {
            if (t.pending || t.due > now)
                continue;
            t.pending = true;
            t.due = now + t.interval;
            Message m;
            m.kind = MessageKind::Timer;
            m.target = t.target;
            m.event = t.id;
            std::lock_guard lock(mutex);
            messages.push_back(std::move(m));
        }
    }

    // A Timer message is delivered only while its timer still exists.
    bool TakeTimer(const Message &m) {
        for (auto &t : timers)
            if (t.target == m.target && t.id == m.event) {
                bool wasPending = t.pending;
                t.pending = false;
                return wasPending;
            }
        return false;
    }

    void Dispatch() {
        for (int i = 0; i < kMaxDispatchPerPass; ++i) {
            Message m;
            {
                std::lock_guard lock(mutex);
                if (messages.empty())
                    break;
                m = std::move(messages.front());
                messages.pop_front();
            }
            try {
                if (m.kind == MessageKind::Closure) {
                    if (m.closure)
                        m.closure();
                    continue;
                }
                if (m.kind == MessageKind::Timer && !TakeTimer(m))
                    continue;
                auto it = targets.find(m.target);
                if (it != targets.end())
                    it->second->HandleMessage(m);
            } catch (const std::exception &e) {
                HandleApplicationException(e.what());
            } catch (...) {
                HandleApplicationException("unknown exception");
            }
        }
    }

    void Process(bool polledAlready, bool runHook = true) {
        if (!polledAlready)
            Poll(0);
        QueueDueTimers();
        ClearWake();
        if (stopHook && posix::StopRequestCount() != stopsHandled) {
            stopsHandled = posix::StopRequestCount();
            auto hook = stopHook;
            hook();
        }
        Dispatch();
        WakeForLeftovers();
        ArmForNextTimer();
        if (runHook && pumpHook) {
            auto hook = pumpHook; // the hook may replace itself
            hook();
        }
    }
};

NotifyQueue::NotifyQueue() : impl_(std::make_unique<Impl>()) {
    Impl &q = *impl_;
    q.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    q.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    q.loopFd = epoll_create1(EPOLL_CLOEXEC);
    for (int fd : {q.wakeFd, q.timerFd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(q.loopFd, EPOLL_CTL_ADD, fd, &event);
    }
}

NotifyQueue::~NotifyQueue() {
    for (int fd : {impl_->loopFd, impl_->timerFd, impl_->wakeFd})
        if (fd >= 0)
            close(fd);
}

const std::shared_ptr<NotifyQueue> &NotifyQueue::Current() {
    thread_local std::shared_ptr<NotifyQueue> queue = std::make_shared<NotifyQueue>();
    return queue;
}

void NotifyQueue::Post(Message m) {
    MessageKind kind = m.kind;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->messages.push_back(std::move(m));
    }
    impl_->Wake(kind);
}

void NotifyQueue::PostClosure(std::function<void()> fn) {
    Message m;
    m.kind = MessageKind::Closure;
    m.closure = std::move(fn);
    Post(std::move(m));
}

void NotifyQueue::SetTimer(uint64_t target, uint16_t timerId, uint32_t intervalMs) {
    KillTimer(target, timerId);
    auto interval = std::chrono::milliseconds(intervalMs);
    impl_->timers.push_back({target, timerId, interval, Clock::now() + interval, false});
    impl_->ArmForNextTimer();
}

void NotifyQueue::KillTimer(uint64_t target, uint16_t timerId) {
    auto &t = impl_->timers;
    t.erase(std::remove_if(t.begin(), t.end(),
                           [&](const Impl::TimerEntry &e) {
                               return e.target == target && e.id == timerId;
                           }),
            t.end());
}

uint64_t NotifyQueue::Register(MessageTarget *target) {
    uint64_t id = nextTargetId++;
    impl_->targets[id] = target;
    return id;
}

void NotifyQueue::Unregister(uint64_t id) {
    impl_->targets.erase(id);
    auto &t = impl_->timers;
    t.erase(std::remove_if(t.begin(), t.end(),
                           [&](const Impl::TimerEntry &e) { return e.target == id; }),
            t.end());
}

void ProcessPendingMessages() { NotifyQueue::Current()->impl().Process(false); }

void DispatchPendingMessages() { NotifyQueue::Current()->impl().Process(false, false); }

int NotifyQueue::WakeDescriptor() const {
    return impl_->loopFd;
}

namespace {
void SleepThenProcess(int ms, bool runHook) {
    auto &q = NotifyQueue::Current()->impl();
    int timeout = q.HasMessages() ? 0 : q.MillisecondsToNextTimer(ms);
    q.Poll(timeout);
    q.Process(true, runHook);
}
} // namespace

void SleepAndProcess(int ms) { SleepThenProcess(ms, true); }

void SleepAndDispatch(int ms) { SleepThenProcess(ms, false); }

void SetThreadPumpHook(std::function<void()> hook) {
    NotifyQueue::Current()->impl().pumpHook = std::move(hook);
}

namespace posix {

void AddPollSource(NotifyQueue &queue, PollSource *source) {
    auto &s = queue.impl().sources;
    if (std::find(s.begin(), s.end(), source) == s.end())
        s.push_back(source);
}

void RemovePollSource(NotifyQueue &queue, PollSource *source) {
    auto &s = queue.impl().sources;
    s.erase(std::remove(s.begin(), s.end(), source), s.end());
}

void SetStopHook(NotifyQueue &queue, std::function<void()> hook) {
    queue.impl().stopsHandled = StopRequestCount();
    queue.impl().stopHook = std::move(hook);
}

int SignalWakeDescriptor(NotifyQueue &queue) {
    return queue.impl().wakeFd;
}

} // namespace posix
} // namespace platform
