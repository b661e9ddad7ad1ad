// The proxy settings as the variables and the Windows settings write them: a proxy URL, a
// Windows proxy list for a scheme, and the no_proxy and bypass lists for a host. The input is
// the setting, a NUL byte, and the host (or scheme) it is asked for.
#include "platform/IpAddress.h"
#include "platform/ProxyRules.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cctype>

namespace {

// A proxy that requests can be sent to: a host that can be looked up and a port in range; its
// name never carries the credentials.
void CheckProxy(const platform::ProxyServer &proxy) {
    if (proxy.Direct) {
        fuzz::Check(proxy.Usable(), "DIRECT is usable");
        return;
    }
    fuzz::Check(!proxy.Host.empty(), "a proxy has a host");
    // A name, or an IPv6 address without brackets (the socket's form).
    platform::IpAddress address;
    const bool v6 = platform::ParseIpAddress(proxy.Host, address) &&
                    address.family == platform::IpAddress::Family::V6;
    for (char c : proxy.Host)
        fuzz::Check(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                        c == '_' || (v6 && c == ':'),
                    "a host of a name's characters, or an IPv6 address");
    fuzz::Check(proxy.Port >= 1 && proxy.Port <= 65535, "a port in range");
    const std::string host = v6 ? "[" + proxy.Host + "]" : proxy.Host;
    fuzz::Check(proxy.Name() == host + ":" + std::to_string(proxy.Port),
                "the name is the host and port alone");
    fuzz::Check(platform::ProxyHostError(proxy.Host).empty() &&
                    platform::ProxyHostError(host).empty(),
                "a proxy read is one the options take too");
    fuzz::Check(proxy.Usable() == (proxy.Scheme == "http"), "only an HTTP proxy is usable");
    for (char c : proxy.Scheme)
        fuzz::Check(!std::isupper(static_cast<unsigned char>(c)), "a scheme in lower case");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    const size_t nul = input.find('\0');
    const std::string setting = input.substr(0, nul);
    const std::string host = nul == std::string::npos ? "" : input.substr(nul + 1);
    if (const auto proxy = platform::ParseProxyUrl(setting)) {
        CheckProxy(*proxy);
        fuzz::Check(!proxy->Scheme.empty(), "a proxy read has a scheme");
    }
    const auto proxies = platform::ParseProxyList(setting, host);
    for (const auto &proxy : proxies)
        CheckProxy(proxy);
    const bool skipped = platform::NoProxyMatches(setting, host);
    fuzz::Check(!skipped || setting.find_first_not_of(", \t") != std::string::npos,
                "an empty no_proxy list skips nothing");
    platform::BypassListMatches(setting, host);
    // An IPv6 address is the same host with its brackets, in both lists.
    platform::IpAddress address;
    if (platform::ParseIpAddress(host, address)) {
        fuzz::Check(platform::NoProxyMatches(setting, "[" + host + "]") == skipped,
                    "no_proxy sees an address with or without brackets alike");
        fuzz::Check(platform::BypassListMatches(setting, "[" + host + "]") ==
                        platform::BypassListMatches(setting, host),
                    "a bypass list sees an address with or without brackets alike");
    }
    return 0;
}
