#include "engine/ProxyCredentials.h"

#include "net/NMUUE.h"
#include "net/ProxyChallenge.h"

namespace engine {

ProxyCredentials::Entry ProxyCredentials::Current(const platform::ProxyServer &proxy) const {
    const auto found = set_.find(proxy.Name());
    if (found != set_.end())
        return found->second;
    Entry fromUrl{proxy.User, proxy.Password, proxy.User.empty() ? 0 : 1};
    return fromUrl;
}

std::string ProxyCredentials::Authorization(const platform::ProxyServer &proxy,
                                            int &generation) const {
    std::lock_guard lock(mutex_);
    const Entry entry = Current(proxy);
    generation = entry.generation;
    if (entry.generation == 0)
        return {};
    return "Basic " + net::Base64Line(entry.user + ":" + entry.password);
}

int ProxyCredentials::Generation(const platform::ProxyServer &proxy) const {
    std::lock_guard lock(mutex_);
    return Current(proxy).generation;
}

void ProxyCredentials::Set(const platform::ProxyServer &proxy, const std::string &user,
                           const std::string &password) {
    std::lock_guard lock(mutex_);
    const int next = Current(proxy).generation + 1;
    set_[proxy.Name()] = Entry{user, password, next};
}

bool OffersBasic(const std::string &challenge) {
    return net::ChallengeFor(challenge, "Basic").has_value();
}

} // namespace engine
