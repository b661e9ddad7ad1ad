#pragma once

#include "net/ByteLayer.h"
#include "platform/AsyncSocket.h"

namespace net {

// The bottom of the socket component's layers: the socket's own Receive and Send, so a
// receive re-arms the read notification and a send that would block arms the write one.
// Without a socket (none could be made) every byte operation fails with the not-a-socket code.
class PlainLayer final : public ByteLayer {
  public:
    // `socket` (may be null) must outlive the layer.
    explicit PlainLayer(platform::AsyncSocket *socket) : socket_(socket) {}

    Step Open() override { return Step::Done; }
    bool IsOpen() const override { return true; }
    long Receive(void *buffer, size_t len) override;
    long Send(const void *data, size_t len) override;
    int Flush() override { return 1; }
    bool Buffered() const override { return false; }
    void ClosedWithError(int) override {}
    void Shutdown() override {}
    const std::string &Failure() const override;

  private:
    platform::AsyncSocket *socket_;
};

} // namespace net
