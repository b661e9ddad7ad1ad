#pragma once

#include <cstddef>
#include <string>

namespace net {

// The byte operations of the socket component's connection, as layers stacked on its socket:
// the plain layer over the socket itself, the TLS layer over the plain one. Every layer keeps
// the socket's conventions, so the component moves bytes the same way whatever the stack
// holds: Receive and Send give the count, 0 once the peer has closed, -1 with the socket error
// code set (the would-block code when nothing can move now). Nothing here blocks; the
// component's socket notifications drive the layers. Owning thread only.
class ByteLayer {
  public:
    enum class Step { Done, Pending, Failed };

    virtual ~ByteLayer() = default;

    // Moves the layer's opening on (a TLS handshake) with what has arrived and sends what it
    // produces: Done once the layer is open (at once for one with nothing to open), Pending
    // until more arrives, Failed with Failure() set. Until then Receive and Send would block.
    virtual Step Open() = 0;
    virtual bool IsOpen() const = 0;

    virtual long Receive(void *buffer, size_t len) = 0;
    virtual long Send(const void *data, size_t len) = 0;

    // Hands what the layer holds for the peer to the socket: 1 when all is out, 0 while some
    // waits for a write notification, -1 on a socket error.
    virtual int Flush() = 0;

    // Received bytes wait in the layer that no socket notification will announce any more.
    virtual bool Buffered() const = 0;

    // The socket's close notification carried this error (0: a plain close).
    virtual void ClosedWithError(int code) = 0;

    // Best effort: tells the peer that this side closes (TLS's close_notify), if that can go
    // out now. The socket is closed by its owner.
    virtual void Shutdown() = 0;

    // Why the layer's opening or its session failed, for the user: for example "Certificate
    // verification failed: certificate has expired". Empty while nothing failed.
    virtual const std::string &Failure() const = 0;
};

} // namespace net
