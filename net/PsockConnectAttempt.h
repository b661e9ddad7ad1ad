#pragma once

// One attempt of TPowersock's connection race (PsockConnect.cpp): a socket of its address's
// family whose events come here. The first attempt to connect gives its socket to the component
// and from then on passes each of that socket's events on to it, in the order they come, so
// that none posted before the hand-over is lost; the others are closed unconnected.

#include "net/Psock.h"

namespace net {

class TPowersock::ConnectAttempt final : public platform::MessageTarget {
  public:
    enum class State : uint8_t { Running, Failed, Connected };

    explicit ConnectAttempt(TPowersock &owner) : owner_(owner) {}

    // Starts connecting; a failure at once leaves the attempt Failed, with `error` set.
    void Start(const platform::IpAddress &address, uint16_t port, bool resetOnClose);

    // Called by the component when it closes the connection: later events of the closed
    // socket go nowhere.
    void StopPassingOn() { passingOn_ = false; }

    void HandleMessage(const platform::Message &m) override;

    State state = State::Running;
    int error = 0; // why it failed
    platform::IpAddress address;
    std::unique_ptr<platform::AsyncSocket> socket; // until the component takes it

  private:
    TPowersock &owner_;
    bool passingOn_ = false;
};

} // namespace net
