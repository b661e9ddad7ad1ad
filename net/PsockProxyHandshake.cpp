// TPowersock: the handshake with a proxy that authenticates the connection (Negotiate, NTLM).
// Each token goes in a Proxy-Authorization line of the same request made again on the same
// connection; the proxy answers 407 with its own token until it accepts the connection.
#include "net/Psock.h"

#include "net/NMUUE.h"
#include "net/ProxyChallenge.h"

namespace net {

void TPowersock::BeginProxyRequest() {
    Handshake.reset();
    HandshakeScheme.clear();
    HandshakeAuthorization.clear();
    HandshakeLegs = 0;
    HandshakeTried = false;
}

const std::string &TPowersock::ProxyAuthorizationValue() const {
    return Handshake ? HandshakeAuthorization : ProxyAuthorization;
}

bool TPowersock::NextHandshakeLeg() {
    std::string proxyToken;
    if (!Handshake) {
        if (HandshakeTried || !StartProxyHandshake)
            return false;
        HandshakeTried = true;
        for (const char *scheme : kHandshakeSchemes) {
            const auto offered = ChallengeFor(ProxyChallenge, scheme);
            if (!offered)
                continue;
            Handshake = StartProxyHandshake(scheme, Proxy);
            if (Handshake) {
                HandshakeScheme = offered->scheme;
                break;
            }
        }
        if (!Handshake)
            return false;
    } else {
        // A challenge without a token of the scheme is the proxy refusing the last one.
        const auto answer = ChallengeFor(ProxyChallenge, HandshakeScheme);
        const auto bytes = answer ? Base64Bytes(answer->rest) : std::nullopt;
        if (!bytes || bytes->empty() || ++HandshakeLegs > kMaxHandshakeLegs) {
            Handshake.reset();
            return false;
        }
        proxyToken = *bytes;
    }
    std::string clientToken;
    if (!Handshake->Next(proxyToken, clientToken) || clientToken.empty()) {
        Handshake.reset();
        return false;
    }
    HandshakeAuthorization = HandshakeScheme + " " + Base64Line(clientToken);
    return true;
}

} // namespace net
