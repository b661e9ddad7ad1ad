#pragma once

#include "platform/NotifyQueue.h"

namespace platform::posix {

// A descriptor that a thread's message processing polls; sockets are the only ones.
class PollSource {
  public:
    virtual ~PollSource() = default;
    virtual int PollFd() const = 0;
    // The poll() events wanted now; 0 leaves the source out of this poll.
    virtual short PollEvents() const = 0;
    // Turns the poll result into messages posted to the owning queue.
    virtual void PollResult(short revents) = 0;
};

// Owning thread of the queue only.
void AddPollSource(NotifyQueue &queue, PollSource *source);
void RemovePollSource(NotifyQueue &queue, PollSource *source);

// The stop requests caught so far (StopRequests.cpp), and the function that the queue's
// message processing runs once for each new one.
unsigned StopRequestCount();
void SetStopHook(NotifyQueue &queue, std::function<void()> hook);
// The queue's wake-up eventfd, for a signal handler to write a count of 1 to: that wakes the
// queue's own waits and a loop waiting on WakeDescriptor() (an epoll set, which takes no
// writes itself).
int SignalWakeDescriptor(NotifyQueue &queue);

} // namespace platform::posix
