#pragma once

#include "platform/AsyncSocket.h"

#include <cstddef>
#include <memory>
#include <string>

namespace net {

class TTlsEngine;

// A TLS client session over a connected non-blocking socket of the socket component. The TLS
// engine (TlsEngine.h) works on memory only; this class moves ciphertext between it and the
// socket with the socket's own Receive and Send, so the socket's notification rules stay as
// they are: a receive re-arms the read notification, a send that would block arms the write
// notification. Nothing here blocks or waits; the component's wait loop drives it from the
// socket's notifications. Owning thread only.
//
// The server's certificate chain is verified against the system's trust store (with OpenSSL
// its default paths, which honour SSL_CERT_FILE and SSL_CERT_DIR, read once per process; with
// Schannel the system's certificate stores), its name (or IP address) must match the host,
// the host name is sent as SNI, and TLS 1.2 is the oldest version accepted.
class TPsockTls {
  public:
    enum class Step { Done, Pending, Failed };

    // A session for `host` on `socket` (which must outlive it). Throws ESockError when the
    // TLS library cannot set one up.
    TPsockTls(platform::AsyncSocket &socket, const std::string &host);
    ~TPsockTls();
    TPsockTls(const TPsockTls &) = delete;
    TPsockTls &operator=(const TPsockTls &) = delete;

    // Moves the handshake on with whatever the socket holds and sends what it produces.
    // Pending until the server's next flight arrives; Failed with Failure() set.
    Step Handshake();
    bool Established() const;

    // Plaintext counterparts of the socket's Receive and Send, with its conventions: the
    // count, 0 once the server has closed, -1 with the socket error code set (the would-block
    // code when nothing can move now). A TLS failure is -1 with Failure() set.
    long Receive(void *buffer, size_t len);
    long Send(const void *data, size_t len);

    // Hands queued ciphertext to the socket: 1 when all is out, 0 while some waits for a
    // write notification, -1 on a socket error.
    int Flush();

    // Received bytes wait here that no socket notification will announce any more.
    bool Buffered() const;

    // Bytes read from the socket before the session began (after a proxy's reply), taken as
    // the first ones received.
    void Feed(const char *data, size_t len);

    // The socket's close notification carried this error (a reset): it names the failure of
    // a handshake that the close ends.
    void ClosedWithError(int code);

    // Best effort: tells the server that this side closes (a close_notify), if it can go out
    // now. The socket is closed by its owner.
    void Shutdown();

    // Why the handshake or the connection failed, for the user: for example "Certificate
    // verification failed: certificate has expired". Empty while nothing failed.
    const std::string &Failure() const { return failure_; }

  private:
    // Reads what the socket holds into the session: false when the socket failed (its code
    // is set) or a read would block; eof_ is set when the server has closed.
    bool Pull();
    void Fail(const std::string &what);
    // The text of a handshake that the server's close ended.
    std::string ClosedFailure();
    static std::string SocketFailure(int code);

    std::unique_ptr<TTlsEngine> engine_;
    platform::AsyncSocket &socket_;
    std::string pending_; // ciphertext the socket has not taken yet
    std::string failure_;
    bool eof_ = false;
    int pullError_ = 0; // the socket's code when the last read failed, 0 after a good one
    int closeError_ = 0;
    bool closedEarly_ = false; // the handshake failed on an end before the close was told
};

} // namespace net
