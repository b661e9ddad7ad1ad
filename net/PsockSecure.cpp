// TPowersock: the secure part of Connect. Through a proxy a CONNECT tunnel to the origin is
// opened first; then the TLS handshake runs on the connected socket, driven by its
// notifications inside the connect phase's wait.
#include "net/Psock.h"

#include "net/PsockTls.h"
#include "net/ResponseHead.h"
#include "platform/Url.h"

namespace net {
namespace {

// Header lines of a proxy's answer to CONNECT taken at most, and its bytes (status line and
// header lines); a longer answer is refused.
constexpr size_t kMaxTunnelHeaderLines = 100;
constexpr size_t kMaxTunnelHead = 256 * 1024;
// The longest body of a refusal passed over to go on with a handshake on the same connection.
constexpr int64_t kMaxTunnelRefusalBody = 1024 * 1024;

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

bool TPowersock::Handshaking() const {
    return Tls && !TlsReady;
}

bool TPowersock::SecureConnection() {
    if (!Proxy.empty() && !OpenTunnel())
        return false;
    try {
        // The certificate is checked for the address itself, without a URL's brackets.
        Tls = std::make_unique<TPsockTls>(*Socket, platform::SocketHost(Host));
    } catch (const ESockError &e) {
        SecureFailure = e.what();
        return false;
    }
    // Whatever followed the proxy's answer came from the origin already.
    if (!Proxy.empty() && ReceiveQueue.Size() > 0) {
        Tls->Feed(ReceiveQueue.Data(), ReceiveQueue.Bytes().size());
        ReceiveQueue.Clear();
    }
    ContinueHandshake(); // the first flight goes out now; the answers arrive as notifications
    WaitUntil([this] { return TlsReady || !SecureFailure.empty() || TimedOut || !IsConnected; },
              false);
    if (TlsReady && !TimedOut && !CancelRequested)
        return true;
    if (SecureFailure.empty() && !TimedOut && !CancelRequested)
        SecureFailure = "TLS handshake failed: the server closed the connection";
    return false;
}

void TPowersock::ContinueHandshake() {
    switch (Tls->Handshake()) {
    case TPsockTls::Step::Done:
        TlsReady = true;
        // Records that came with the server's last flight announce themselves no more.
        if (Tls->Buffered())
            PostToSelf([] {
                platform::Message m;
                m.kind = platform::MessageKind::ReadPending;
                return m;
            }());
        break;
    case TPsockTls::Step::Failed:
        SecureFailure = Tls->Failure();
        break;
    case TPsockTls::Step::Pending:
        break;
    }
}

bool TPowersock::OpenTunnel() {
    // The proxy connects to the origin and then passes bytes both ways; the request inside
    // is the one a direct connection carries, so the proxy never sees it.
    const std::string target = platform::HostAndPort(Host, Port);
    BeginProxyRequest();
    try {
        // A proxy's handshake asks the same again on this connection, with each token.
        for (;;) {
            ProxyChallenge.clear();
            // Keep-Alive: a proxy that refuses with 407 keeps the connection open for the
            // handshake's next request (squid closes it otherwise).
            std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target +
                                  "\r\nProxy-Connection: Keep-Alive\r\n";
            if (!ProxyAuthorizationValue().empty())
                request += "Proxy-Authorization: " + ProxyAuthorizationValue() + "\r\n";
            Write(request + "\r\n");
            const TunnelAnswer answer = ReadTunnelAnswer();
            if (answer.tooLong) {
                SecureFailure = "The proxy's answer to the tunnel request is too long";
                return false;
            }
            if (answer.status >= 200 && answer.status <= 299)
                return true;
            // Its body has to be passed over before the next request on this connection.
            const bool bodyEnds = answer.length >= 0 && answer.length <= kMaxTunnelRefusalBody;
            if (answer.status == 407 && bodyEnds && NextHandshakeLeg()) {
                std::string body;
                CaptureLimit = answer.length;
                CaptureString(body, -1);
                // A proxy that closed after its refusal takes no token: the refusal stands.
                if (IsConnected)
                    continue;
            }
            SecureFailure = "The proxy refused the tunnel to " + target + ": " + answer.statusLine;
            ProxyAuthAsked = answer.status == 407;
            return false;
        }
    } catch (const EAbortError &) {
        // A time-out or a cancel: Connect names it. The send wait clears the cancel flag
        // when it reports it; the connect phase needs it still set.
        if (!TimedOut)
            CancelRequested = true;
        return false;
    } catch (const ESockError &) {
        SecureFailure =
            "The proxy closed the connection before the tunnel to " + target + " was open";
        return false;
    }
}

TPowersock::TunnelAnswer TPowersock::ReadTunnelAnswer() {
    TunnelAnswer answer;
    ResponseHeadReader reader(HeadLimits{kMaxTunnelHead, kMaxTunnelHeaderLines});
    std::string line;
    for (bool first = true;; first = false) {
        ReadLn(line);
        if (first)
            answer.statusLine = WithoutLineEnd(line);
        const ResponseHeadReader::Step step = reader.Take(line);
        // An answer that is not HTTP's has no status: a refusal, named by its first line.
        if (step == ResponseHeadReader::Step::Failed) {
            answer.tooLong = reader.Error() == HeadError::TooLong ||
                             reader.Error() == HeadError::TooManyLines;
            return answer;
        }
        if (step == ResponseHeadReader::Step::Done)
            break;
    }
    const ResponseHead &head = reader.Head();
    answer.status = head.status;
    answer.length = head.transferEncoded ? -1 : head.contentLength;
    if (head.status == 407)
        ProxyChallenge = head.proxyChallenge;
    return answer;
}

} // namespace net
