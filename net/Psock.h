#pragma once

#include "net/ByteLayer.h"
#include "net/ProxyHandshake.h"
#include "net/Streams.h"
#include "platform/AsyncSocket.h"
#include "platform/NotifyQueue.h"
#include "platform/Object.h"
#include "platform/ThreadTimer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace net {

using platform::TObject;

// What went wrong, for callers that decide by it; the message is for people.
enum class SockFailure : uint8_t {
    Other,            // a request that cannot be made, a protocol fault
    HostNotFound,     // the lookup failed (LastSocketError says why)
    LookupTimedOut,   // the lookup took longer than the time-out
    ConnectFailed,    // refused, unreachable (LastSocketError says which)
    ConnectTimedOut,  // the connection was not made within the time-out
    Cancelled,        // Cancel or AbortOperation ended the wait
    Closed,           // the connection ended before the data did (LastSocketError: a reset)
    Tls,              // the tunnel, the handshake or the session failed
    Stalled,          // a data wait in which nothing moved for the time-out
    ProxyAuth,        // the proxy asks for credentials (ProxyChallenge says how) or refused them
};

// Failures of the socket layer: a message and its kind.
class ESockError : public std::runtime_error {
  public:
    explicit ESockError(const std::string &message, SockFailure kind = SockFailure::Other)
        : std::runtime_error(message), kind_(kind) {}
    SockFailure Kind() const { return kind_; }

  private:
    SockFailure kind_;
};
// A data wait that was cancelled (or stalled past the time-out).
class EAbortError : public ESockError {
  public:
    explicit EAbortError(const std::string &message, SockFailure kind = SockFailure::Cancelled)
        : ESockError(message, kind) {}
};

using TNotifyEvent = std::function<void(TObject *Sender)>;
using TOnHostResolved = TNotifyEvent;
using THandlerEvent = std::function<void(bool &Handled)>;
using TOnStatus = std::function<void(TObject *Sender, const std::string &Status)>;
using TOnErrorEvent =
    std::function<void(TObject *Sender, uint16_t Error, const std::string &ErrorText)>;

// The no-socket value of SocketHandle().
constexpr uint16_t kNoSocket = 65535;

// A TCP client over IPv6 and IPv4 that turns the socket's asynchronous notifications into
// blocking operations. Every wait pumps the owning thread's messages (at most 2 ms blocked at a time)
// and re-tests its flags, so it stays cancellable. One component belongs to the thread that
// created it; only Cancel and AbortOperation may be called from another thread.
class TPowersock : public TObject, private platform::MessageTarget {
  public:
    // Throws ESockError "Initializaton of windows sockets failed" when no socket can be made.
    TPowersock();
    ~TPowersock() override;

    // Resolves Host (or Proxy) and connects to Port (or ProxyPort); with UseTls it then opens
    // a tunnel to Host:Port through the proxy (if any) and makes the connection TLS. A name
    // with several addresses is connected to by a race: the families take turns, each
    // attempt starting kNextAttemptDelay after the one before (at once when every running one
    // has failed), the first connection made is kept and the others closed. Blocks until
    // connected, TimeOut ms per phase (lookup; the whole race with tunnel and handshake;
    // 0 = no limit) or Cancel; throws ESockError, for a refused certificate or tunnel with
    // the reason (e.g. "Certificate verification failed: certificate has expired").
    virtual void Connect();
    // Closes the connection into a fresh unconnected socket; fires OnDisconnect.
    virtual void Disconnect();
    // Writeln of the command, ReadLn of the reply, ReplyNumber from its leading digits.
    virtual void Transaction(const std::string &command, std::string &reply);
    // Called by the time-out and the destructor; empty here. Safe from any thread.
    virtual void AbortOperation();

    // Ends the running wait within one poll. Safe from any thread.
    void Cancel();

    // Data transfer. Each blocks until done or cancelled (EAbortError); with TimeOut > 0 a
    // wait in which no byte moves for TimeOut ms ends as a time-out. A wait that can no longer
    // complete because the connection is gone throws ESockError.
    void SendBuffer(const char *data, uint16_t length);
    void Write(const std::string &text);
    void Writeln(const std::string &text);
    // A line longer than kMaxLineLength without its line feed ends ReadLn with "Line too long".
    static constexpr size_t kMaxLineLength = 1024 * 1024;
    void ReadLn(std::string &line);
    void CaptureString(std::string &text, int32_t count);
    void CaptureFile(const std::string &fileName);
    // The same into a stream of the caller's (which may refuse bytes by throwing
    // EFileStreamError: the capture then ends with that error).
    void CaptureStream(TStream &stream);
    // The most bytes the next capture takes (-1: no limit): it then ends as soon as it has
    // them, without waiting for the close, and keeps no byte after them. Each capture sets it
    // back to -1.
    int64_t CaptureLimit = -1;
    void SendFile(const std::string &fileName);

    void ResolveHost();
    std::string RemoteAddressText() const;
    void ReportStatus(uint8_t level, const std::string &text);
    std::string LookupErrorMessage(uint16_t code);
    void CheckSocketError(uint16_t expected, std::string &text);
    void RequestCloseSocket();
    void TimerOn();
    void TimerOff();
    void TimerTriggered(TObject *Sender);
    uint16_t SocketHandle() const;

    // Published properties.
    // A name, an IPv4 address or an IPv6 address (with or without the brackets of a URL). An
    // IPv6 zone id ("fe80::1%eth0") names no host here.
    std::string Host;
    int32_t Port = 0;
    int32_t TimeOut = 0;
    int32_t ReportLevel = 0;
    std::string Proxy;
    int32_t ProxyPort = 0;
    // The next connection is TLS with Host, its certificate verified; through a Proxy it goes
    // through a CONNECT tunnel to Host:Port. The byte operations are the same either way.
    bool UseTls = false;
    // The value of the Proxy-Authorization line for the Proxy (empty: none): sent to the proxy
    // only, in the tunnel request (and by the HTTP client in a request through the proxy).
    std::string ProxyAuthorization;
    // After a proxy answered 407: its Proxy-Authenticate values, joined by ", ".
    std::string ProxyChallenge;
    // Answers a proxy that asks for Negotiate or NTLM, on the connection the challenge came
    // on: the system's own by default. When it gives nothing, the 407 ends the request as any
    // other refusal does.
    ProxyHandshakeStarter StartProxyHandshake = StartSystemHandshake;
    // Answers taken from the proxy in one handshake at most (NTLM needs one, Negotiate one or
    // two); one more ends it as refused.
    static constexpr int kMaxHandshakeLegs = 4;

    // Events.
    TNotifyEvent OnConnect, OnDisconnect, OnConnectionFailed, OnDataArrived, OnReceiveAborted,
        OnPacketRecvd, OnPacketSent;
    TOnHostResolved OnHostResolved;
    THandlerEvent OnInvalidHost;
    TOnStatus OnStatus;
    TOnErrorEvent OnSocketError;

    // State.
    bool IsConnected = false;
    std::atomic<bool> CancelRequested{false};
    // Set by a caller that is done with the component (a download attempt paused or stopped):
    // every wait ends at once from then on, also one that begins later, since Connect no
    // longer clears the cancel. Safe from any thread.
    std::atomic<bool> Abandoned{false};
    bool TimedOut = false;
    bool LastEventOk = false;
    std::atomic<bool> LookupDone{false};
    bool Destroying = false;
    bool TransferActive = false, FileTransfer = false, SendDone = false, InHandler = false;
    int32_t LastSocketError = 0;
    std::string LastStatus;
    // Every address of the host (or proxy) in the resolver's order, and the one connected to
    // (until connected, the first); empty and Family::None while unresolved.
    std::vector<platform::IpAddress> RemoteAddresses;
    platform::IpAddress RemoteAddress;
    uint16_t RemotePort = 0;    // network byte order
    std::vector<std::string> WinsockInfo;
    int64_t SendProgress = 0, ReceiveProgress = 0, TransferSize = 0;
    std::string LastReply;
    int16_t ReplyNumber = 0;

  protected:
    // Notification handlers: receive one chunk into ReceiveStream, send one from SendStream.
    void ReadToStream();
    void WriteFromStream();

    // The byte queues; during CaptureFile ReceiveStream is the capture file and during
    // SendFile SendStream is the sent file, otherwise they are the memory queues.
    TMemoryStream ReceiveQueue, SendQueue;
    TStream *ReceiveStream = &ReceiveQueue;
    TStream *SendStream = &SendQueue;

    // The handshake with a proxy that authenticates connections (PsockProxyHandshake.cpp).
    // A request (or a ProxyTunnel) begins with none; after each 407 NextHandshakeLeg decides
    // whether to ask again on the same connection: with the first token when the proxy offers
    // a scheme the starter answers, then with the answer to each token the proxy sends. False
    // when there is nothing more to send: the 407 then stands.
    void BeginProxyRequest();
    bool NextHandshakeLeg();
    bool HandshakeRunning() const { return Handshake != nullptr; }
    // The Proxy-Authorization value of the next request to the proxy: the handshake's token
    // while one runs, else ProxyAuthorization.
    const std::string &ProxyAuthorizationValue() const;

  private:
    friend class ProxyTunnel; // asks with the handshake's tokens

    // The one wait loop: pumps this thread's messages until done() or CancelRequested. A
    // data wait with TimeOut > 0 also ends, as a time-out, when no byte has moved for
    // TimeOut ms. The caller tests CancelRequested afterwards.
    void WaitUntil(const std::function<bool()> &done, bool dataWait);
    void HandleMessage(const platform::Message &m) override;
    void DispatchSocketMessage(const platform::Message &m);
    void HandleClose();
    // StoreChunk is StoreBytes (into ReceiveStream, cut at what the capture may still take;
    // false when the capture file failed) then CountChunk (the progress and OnPacketRecvd,
    // during a transfer).
    void StoreChunk(const char *data, size_t n);
    bool StoreBytes(const char *data, size_t &n);
    // Takes CaptureLimit for a capture that begins (with `buffered` bytes already at hand);
    // returns how many of those it keeps.
    size_t StartCaptureLimit(size_t buffered);
    void CountChunk(size_t n);
    // The buffer of one receive, kept for the component's life.
    char *ReceiveBuffer();
    bool CreateSocket(bool linger);
    // Makes `socket` (may be null) the component's, with a plain layer over it; the layers
    // over the socket it replaces go first.
    void UseSocket(std::unique_ptr<platform::AsyncSocket> socket);
    // The connection race of Connect (PsockConnect.cpp). RaceStep starts the next attempt when
    // it is due and tells whether the race has ended: a connection was made (ConnectEventOk)
    // or every address failed (LastSocketError from the last one that gave a reason).
    class ConnectAttempt;
    struct Race {
        std::vector<platform::IpAddress> order;
        size_t next = 0;
        std::chrono::steady_clock::time_point lastStart;
    };
    bool RaceStep(Race &race);
    void StartAttempt(Race &race);
    // The first attempt that connects: its socket becomes the component's.
    void TakeConnection(ConnectAttempt &attempt, const platform::Message &connectEvent);
    // Closes every attempt but the one whose socket the component took.
    void EndRace();
    void InitializeWinsock();
    void FireSocketError(int code);
    // After a data wait: a cancel ends it with its abort text and clears the flag.
    void ThrowIfCancelled(const char *abortText);
    // After a capture: a broken session ends it with its reason.
    void ThrowIfSessionBroke();
    // A send that can no longer complete: the send error's text, or "Connection closed".
    [[noreturn]] void ThrowSendFailure();
    bool OnOwnerThread() const;
    // TLS (PsockSecure.cpp): the tunnel and the TLS layer's handshake of Connect, on the
    // connected socket while the connect timer runs; false with SessionFailure set, or on a
    // time-out or cancel.
    bool SecureConnection();
    // Moves the opening of the current layer on (the socket's notifications go here until
    // it is open).
    void ContinueOpening();
    // Ends a connection whose layer's session broke: nothing more can be read from it.
    void DropBrokenConnection();
    // OnSocketError for a failed receive, with the layer's reason when it has one.
    void ReportReceiveError(int code);

    std::unique_ptr<platform::AsyncSocket> Socket;
    // The byte operations on Socket: the top of its layers (a plain one, a TLS one over that).
    // Never null; replaced with the socket.
    std::unique_ptr<ByteLayer> Layer;
    // The attempts of the running race; afterwards only the one connected, which passes its
    // socket's events on to the component.
    std::vector<std::unique_ptr<ConnectAttempt>> Attempts;
    // The sockets are made to reset their connection when closed (the first one is).
    bool ResetOnClose = false;
    std::thread::id Owner;
    std::unique_ptr<platform::TThreadTimer> Timer;
    uint16_t LookupSerial = 0;
    uint16_t LookupError = 0;
    std::vector<platform::IpAddress> LookupAddresses;
    bool ConnectEventSeen = false, ConnectEventOk = false;
    uint64_t BytesMoved = 0;         // every byte received or sent, for the stall time-out
    int64_t CaptureLeft = -1;        // what the running capture may still take (-1: no limit)
    bool SendFailed = false;         // a send failed with an error other than would-block
    std::exception_ptr CaptureError; // a write into the capture stream failed
    std::unique_ptr<char[]> receiveBuffer_;
    std::string SessionFailure;     // why the tunnel, the layer's opening or session failed
    bool ProxyAuthAsked = false;    // the tunnel was refused with 407
    std::unique_ptr<ProxyHandshake> Handshake; // the running handshake with the proxy
    std::string HandshakeScheme;               // its scheme, as the proxy names it
    std::string HandshakeAuthorization;        // its last token, as a Proxy-Authorization value
    int HandshakeLegs = 0;                     // the proxy's answers it has taken
    bool HandshakeTried = false;               // one handshake per request
};

// The characters of the n-th field of s (1-based), fields separated by single separators.
std::string NthField(const std::string &s, char separator, int n);
// The 1-based position of the n-th occurrence of ch in s, or Length(s)+1 when fewer.
int NthCharPos(const std::string &s, char ch, int n);

} // namespace net
