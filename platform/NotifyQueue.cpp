// What the thread queues of every system share: message targets and the application's
// exception handler.
#include "platform/NotifyQueue.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex handlerMutex;
std::function<void(const char *)> appExceptionHandler;

} // namespace

MessageTarget::MessageTarget() : queue_(NotifyQueue::Current()), id_(queue_->Register(this)) {}

MessageTarget::~MessageTarget() { queue_->Unregister(id_); }

void MessageTarget::PostToSelf(Message m) const {
    m.target = id_;
    queue_->Post(std::move(m));
}

void SetApplicationExceptionHandler(std::function<void(const char *)> handler) {
    std::lock_guard lock(handlerMutex);
    appExceptionHandler = std::move(handler);
}

void HandleApplicationException(const char *what) {
    std::function<void(const char *)> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = appExceptionHandler;
    }
    if (handler)
        handler(what);
    else
        std::fprintf(stderr, "%s\n", what);
}

} // namespace platform
