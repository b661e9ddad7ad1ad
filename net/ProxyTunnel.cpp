// ProxyTunnel: the CONNECT request, the proxy's answer and the handshake's further requests.
#include "net/ProxyTunnel.h"
#include "platform/Catalogue.h"

#include "net/Psock.h"
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

ProxyTunnel::ProxyTunnel(TPowersock &connection, const std::string &host, int32_t port)
    : connection_(connection), target_(platform::HostAndPort(host, port)) {}

ProxyTunnel::Result ProxyTunnel::Refuse(const std::string &why) {
    failure_ = why;
    return Result::Refused;
}

ProxyTunnel::Result ProxyTunnel::Open() {
    // The proxy connects to the origin and then passes bytes both ways; the request inside
    // is the one a direct connection carries, so the proxy never sees it.
    TPowersock &c = connection_;
    c.BeginProxyRequest();
    try {
        // A proxy's handshake asks the same again on this connection, with each token.
        for (;;) {
            c.ProxyChallenge.clear();
            // Keep-Alive: a proxy that refuses with 407 keeps the connection open for the
            // handshake's next request (squid closes it otherwise).
            std::string request = "CONNECT " + target_ + " HTTP/1.0\r\nHost: " + target_ +
                                  "\r\nProxy-Connection: Keep-Alive\r\n";
            if (!c.ProxyAuthorizationValue().empty())
                request += "Proxy-Authorization: " + c.ProxyAuthorizationValue() + "\r\n";
            c.Write(request + "\r\n");
            const Answer answer = ReadAnswer();
            if (answer.tooLong)
                return Refuse(platform::Tr("The proxy's answer to the tunnel request is too long"));
            if (answer.status >= 200 && answer.status <= 299)
                return Result::Open;
            // Its body has to be passed over before the next request on this connection.
            const bool bodyEnds = answer.length >= 0 && answer.length <= kMaxTunnelRefusalBody;
            if (answer.status == 407 && bodyEnds && c.NextHandshakeLeg()) {
                std::string body;
                c.CaptureLimit = answer.length;
                c.CaptureString(body, -1);
                // A proxy that closed after its refusal takes no token: the refusal stands.
                if (c.IsConnected)
                    continue;
            }
            authAsked_ = answer.status == 407;
            return Refuse(platform::Fill(platform::Tr("The proxy refused the tunnel to %1: %2"),
                                        {target_, answer.statusLine}));
        }
    } catch (const EAbortError &) {
        return Result::Aborted;
    } catch (const ESockError &) {
        return Refuse(platform::Fill(
            platform::Tr("The proxy closed the connection before the tunnel to %1 was open"),
            {target_}));
    }
}

ProxyTunnel::Answer ProxyTunnel::ReadAnswer() {
    Answer answer;
    ResponseHeadReader reader(HeadLimits{kMaxTunnelHead, kMaxTunnelHeaderLines});
    std::string line;
    for (bool first = true;; first = false) {
        connection_.ReadLn(line);
        if (first)
            answer.statusLine = WithoutLineEnd(line);
        const ResponseHeadReader::Step step = reader.Take(line);
        // An answer that is not HTTP's has no status: a refusal, named by its first line.
        if (step == ResponseHeadReader::Step::Failed) {
            answer.tooLong =
                reader.Error() == HeadError::TooLong || reader.Error() == HeadError::TooManyLines;
            return answer;
        }
        if (step == ResponseHeadReader::Step::Done)
            break;
    }
    const ResponseHead &head = reader.Head();
    answer.status = head.status;
    answer.length = head.transferEncoded ? -1 : head.contentLength;
    if (head.status == 407)
        connection_.ProxyChallenge = head.proxyChallenge;
    return answer;
}

} // namespace net
