#pragma once

#include "net/ByteLayer.h"

#include <memory>
#include <string>

namespace net {

class TTlsEngine;

// A TLS client session stacked on the layer below (the plain layer over the socket). The TLS
// engine (TlsEngine.h) works on memory only; this layer moves ciphertext between it and the
// layer below, so the socket's notification rules stay as they are: a receive re-arms the read
// notification, a send that would block arms the write notification. Opening the layer is the
// handshake; until it is done, Receive and Send would block.
//
// The server's certificate chain is verified against the system's trust store (with OpenSSL
// its default paths, which honour SSL_CERT_FILE and SSL_CERT_DIR, read once per process; with
// Schannel the system's certificate stores), its name (or IP address) must match the host,
// the host name is sent as SNI, and TLS 1.2 is the oldest version accepted.
class TlsLayer final : public ByteLayer {
  public:
    // A session of `engine` (CreateTlsEngine) over `below`, which it owns.
    TlsLayer(std::unique_ptr<TTlsEngine> engine, std::unique_ptr<ByteLayer> below);
    ~TlsLayer() override;
    TlsLayer(const TlsLayer &) = delete;
    TlsLayer &operator=(const TlsLayer &) = delete;

    // The handshake, moved on with whatever has arrived.
    Step Open() override;
    bool IsOpen() const override { return open_; }

    // Plaintext. A TLS failure is -1 with Failure() set.
    long Receive(void *buffer, size_t len) override;
    long Send(const void *data, size_t len) override;
    int Flush() override;
    bool Buffered() const override;
    // A reset names the failure of a handshake that the close ends.
    void ClosedWithError(int code) override;
    // A close_notify, after an established handshake that has not failed.
    void Shutdown() override;
    const std::string &Failure() const override { return failure_; }

    // Bytes read from the socket before the session began (after a proxy's answer), taken as
    // the first ones received.
    void Feed(const char *data, size_t len);

  private:
    // Reads what the layer below holds into the session: false when it failed (its code is
    // set) or a read would block; eof_ is set when the server has closed.
    bool Pull();
    void Fail(const std::string &what);
    // The text of a handshake that the server's close ended.
    std::string ClosedFailure();
    static std::string SocketFailure(int code);

    std::unique_ptr<TTlsEngine> engine_;
    std::unique_ptr<ByteLayer> below_;
    std::string pending_; // ciphertext the layer below has not taken yet
    std::string failure_;
    bool open_ = false; // the handshake is done
    bool eof_ = false;
    int pullError_ = 0; // the socket's code when the last read failed, 0 after a good one
    int closeError_ = 0;
    bool closedEarly_ = false; // the handshake failed on an end before the close was told
};

} // namespace net
