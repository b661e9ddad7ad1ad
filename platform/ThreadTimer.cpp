#include "platform/ThreadTimer.h"

#include <exception>

namespace platform {

namespace {
constexpr uint16_t kTimerId = 1;
}

TThreadTimer::TThreadTimer() = default;

TThreadTimer::~TThreadTimer() { OwnerQueue()->KillTimer(TargetId(), kTimerId); }

void TThreadTimer::SetEnabled(bool value) {
    if (value == FEnabled)
        return;
    FEnabled = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t value) {
    if (value == FInterval)
        return;
    FInterval = value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    OwnerQueue()->KillTimer(TargetId(), kTimerId);
    if (FInterval != 0 && FEnabled && FOnTimer)
        OwnerQueue()->SetTimer(TargetId(), kTimerId, FInterval);
}

void TThreadTimer::HandleMessage(const Message &m) {
    if (m.kind != MessageKind::Timer || !FOnTimer)
        return;
    try {
        auto handler = FOnTimer; // the handler may reassign OnTimer
        handler(this);
    } catch (const std::exception &e) {
        HandleApplicationException(e.what());
    } catch (...) {
        HandleApplicationException("unknown exception in a timer handler");
    }
}

} // namespace platform
