#include "platform/SystemProxy.h"

#include <cstdlib>

namespace platform {
namespace {

// The first of the variables that is set and not empty, with its name.
std::string Variable(std::initializer_list<const char *> names, std::string &name) {
    for (const char *candidate : names) {
        const char *value = std::getenv(candidate);
        if (value && *value) {
            name = candidate;
            return value;
        }
    }
    return {};
}

} // namespace

std::vector<ProxyServer> SystemProxiesFor(const std::string &, const std::string &scheme,
                                          const std::string &host, std::string &source) {
    source.clear();
    std::string name;
    std::string value;
    if (scheme == "https")
        value = Variable({"https_proxy", "HTTPS_PROXY"}, name);
    else if (scheme == "http")
        value = Variable({"http_proxy"}, name);
    if (value.empty())
        value = Variable({"all_proxy", "ALL_PROXY"}, name);
    if (value.empty())
        return {};
    std::string noProxyName;
    const std::string noProxy = Variable({"no_proxy", "NO_PROXY"}, noProxyName);
    if (NoProxyMatches(noProxy, host)) {
        source = noProxyName;
        return {};
    }
    source = name;
    // A setting that cannot be read is returned as such: passing it by would bypass a proxy
    // the user relies on.
    auto proxy = ParseProxyUrl(value);
    if (!proxy) {
        ProxyServer unreadable;
        unreadable.Scheme.clear();
        return {unreadable};
    }
    return {*proxy};
}

} // namespace platform
