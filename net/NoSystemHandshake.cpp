// Systems without a single sign-on of their own: a proxy asking for Negotiate or NTLM gets
// its refusal reported, as any scheme this program cannot answer.
#include "net/ProxyHandshake.h"

namespace net {

std::unique_ptr<ProxyHandshake> StartSystemHandshake(const std::string &, const std::string &) {
    return nullptr;
}

} // namespace net
