#pragma once

#include "platform/NotifyQueue.h"
#include "platform/Object.h"

#include <cstdint>
#include <functional>

namespace platform {

// A timer that fires OnTimer on the thread that created it, from inside that thread's
// message processing, every Interval milliseconds while Enabled and OnTimer is assigned.
// An exception thrown by OnTimer goes to the application's exception handler.
class TThreadTimer : public TObject, private MessageTarget {
  public:
    using TNotifyEvent = std::function<void(TObject *Sender)>;

    TThreadTimer();
    ~TThreadTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    uint32_t Interval() const { return FInterval; }
    void SetInterval(uint32_t value);
    void SetOnTimer(TNotifyEvent handler);

  private:
    void UpdateTimer();
    void HandleMessage(const Message &m) override;

    uint32_t FInterval = 1000;
    bool FEnabled = true;
    TNotifyEvent FOnTimer;
};

} // namespace platform
