// TPowersock: the secure part of Connect. Through a proxy a CONNECT tunnel to the origin is
// opened first; then a TLS layer goes on top of the connection's plain one, and its handshake
// runs driven by the socket's notifications inside the connect phase's wait.
#include "net/Psock.h"
#include "platform/Catalogue.h"

#include "net/ProxyTunnel.h"
#include "net/TlsEngine.h"
#include "net/TlsLayer.h"
#include "platform/Url.h"

namespace net {

bool TPowersock::SecureConnection() {
    if (!Proxy.empty()) {
        ProxyTunnel tunnel(*this, Host, Port);
        switch (tunnel.Open()) {
        case ProxyTunnel::Result::Open:
            break;
        case ProxyTunnel::Result::Refused:
            SessionFailure = tunnel.Failure();
            ProxyAuthAsked = tunnel.AuthAsked();
            return false;
        case ProxyTunnel::Result::Aborted:
            // A time-out or a cancel: Connect names it. The waits clear the cancel flag when
            // they report it; the connect phase needs it still set.
            if (!TimedOut)
                CancelRequested = true;
            return false;
        }
    }
    std::string error;
    // The certificate is checked for the address itself, without a URL's brackets.
    std::unique_ptr<TTlsEngine> engine = CreateTlsEngine(platform::SocketHost(Host), error);
    if (!engine) {
        SessionFailure = error;
        return false;
    }
    auto tls = std::make_unique<TlsLayer>(std::move(engine), std::move(Layer));
    // Whatever followed the proxy's answer came from the origin already.
    if (!Proxy.empty() && ReceiveQueue.Size() > 0) {
        tls->Feed(ReceiveQueue.Data(), ReceiveQueue.Bytes().size());
        ReceiveQueue.Clear();
    }
    Layer = std::move(tls);
    ContinueOpening(); // the first flight goes out now; the answers arrive as notifications
    WaitUntil(
        [this] { return Layer->IsOpen() || !SessionFailure.empty() || TimedOut || !IsConnected; },
        false);
    if (IsConnected && Layer->IsOpen() && !TimedOut && !CancelRequested)
        return true;
    if (SessionFailure.empty() && !TimedOut && !CancelRequested)
        SessionFailure = platform::Tr("TLS handshake failed: the server closed the connection");
    return false;
}

void TPowersock::ContinueOpening() {
    switch (Layer->Open()) {
    case ByteLayer::Step::Done:
        // Bytes that came with the peer's last flight announce themselves no more.
        if (Layer->Buffered()) {
            platform::Message m;
            m.kind = platform::MessageKind::ReadPending;
            PostToSelf(m);
        }
        break;
    case ByteLayer::Step::Failed:
        SessionFailure = Layer->Failure();
        break;
    case ByteLayer::Step::Pending:
        break;
    }
}

} // namespace net
