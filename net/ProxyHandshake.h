#pragma once

#include <functional>
#include <memory>
#include <string>

namespace net {

// One handshake of a scheme that authenticates a connection rather than a request (Negotiate,
// NTLM): the client's tokens and the proxy's answers go back and forth on the one connection
// kept open, until the proxy accepts it.
class ProxyHandshake {
  public:
    virtual ~ProxyHandshake() = default;
    // The client's next token, given the proxy's last one (empty before the first); false
    // when the handshake cannot go on (then nothing more is sent).
    virtual bool Next(const std::string &proxyToken, std::string &clientToken) = 0;
};

// Starts a handshake of `scheme` ("Negotiate" or "NTLM") with the proxy `proxyHost`, or gives
// nothing when it cannot be answered here.
using ProxyHandshakeStarter =
    std::function<std::unique_ptr<ProxyHandshake>(const std::string &scheme,
                                                  const std::string &proxyHost)>;

// The system's own: on Windows through SSPI with the logged-on user's credentials, asking
// nothing; elsewhere there is none.
std::unique_ptr<ProxyHandshake> StartSystemHandshake(const std::string &scheme,
                                                     const std::string &proxyHost);

// The schemes of such handshakes, in the order they are tried when a proxy offers both.
inline constexpr const char *kHandshakeSchemes[] = {"Negotiate", "NTLM"};

} // namespace net
