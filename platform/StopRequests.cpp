#include "platform/StopRequests.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<bool> systemEnding{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

} // namespace

bool SystemAskedToEnd() {
    return systemEnding.load();
}

void NoteSystemEnding() {
    systemEnding.store(true);
}

} // namespace platform
