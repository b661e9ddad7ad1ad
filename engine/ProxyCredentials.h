#pragma once

#include "platform/ProxyRules.h"

#include <map>
#include <mutex>
#include <string>

namespace engine {

// The user names and passwords for proxies, kept for this run only and given to the proxy
// they belong to only. A proxy's credentials are those its URL carried until others are set;
// each set has a generation, so that a request refused with older ones is simply made again.
// Safe from any thread.
class ProxyCredentials {
  public:
    // The value of the Proxy-Authorization line for `proxy` ("" when no credentials are
    // known), and the generation of the credentials it carries (0: none, 1: the URL's).
    std::string Authorization(const platform::ProxyServer &proxy, int &generation) const;
    // The generation of `proxy`'s current credentials.
    int Generation(const platform::ProxyServer &proxy) const;
    // New credentials for `proxy`; they take the next generation.
    void Set(const platform::ProxyServer &proxy, const std::string &user,
             const std::string &password);

  private:
    struct Entry {
        std::string user, password;
        int generation = 0;
    };
    Entry Current(const platform::ProxyServer &proxy) const;

    mutable std::mutex mutex_;
    std::map<std::string, Entry> set_; // by the proxy's name
};

// Whether a Proxy-Authenticate challenge offers the Basic scheme.
bool OffersBasic(const std::string &challenge);

} // namespace engine
