#include "platform/ProxyRules.h"

#include "platform/Catalogue.h"
#include "platform/IpAddress.h"
#include "platform/Url.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "%40" and the like as their bytes; a "%" without two hexadecimal digits stays as it is.
std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The entries of a list separated by any of `separators`, without the empty ones.
std::vector<std::string_view> Entries(std::string_view list, std::string_view separators) {
    std::vector<std::string_view> entries;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of(separators, start);
        if (end == std::string_view::npos)
            end = list.size();
        if (end > start)
            entries.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

bool ValidHost(std::string_view host) {
    return !host.empty() && host.size() <= 255 &&
           std::all_of(host.begin(), host.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                      c == '_';
           });
}

// A host ("name", "[v6]") and the port written after it, if any (`defaultPort` when none); the
// host bare, as the socket looks it up.
std::optional<ProxyServer> ProxyOf(const std::string &host, bool hasPort, const std::string &port,
                                   int32_t defaultPort) {
    ProxyServer proxy;
    proxy.Port = defaultPort;
    if (hasPort) {
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        proxy.Port = std::stoi(port);
        if (proxy.Port < 1 || proxy.Port > 65535)
            return std::nullopt;
    }
    const bool bracketed = !host.empty() && host[0] == '[';
    if (bracketed ? !HostError(host).empty() : !ValidHost(host))
        return std::nullopt;
    proxy.Host = SocketHost(host);
    return proxy;
}

// A proxy URL or list entry ("scheme://[user:password@]host[:port][/]", "host[:port]"), the
// scheme `defaultScheme` when none is written. Nothing for one that cannot be read.
std::optional<ProxyServer> ProxyUrlOf(std::string_view text, const std::string &defaultScheme,
                                      int32_t defaultPort) {
    // A bare IPv6 address has colons a URL would take for a port's: it stands alone, without
    // a port ("::1:3128" is one address).
    if (IsIpv6Address(text)) {
        ProxyServer proxy;
        proxy.Host = std::string(text);
        proxy.Port = defaultPort;
        proxy.Scheme = defaultScheme;
        return proxy;
    }
    const UrlParts parts = SplitUrl(std::string(text));
    // "://host" names no scheme: it is no URL this program can read.
    if (!parts.hasAuthority || (parts.scheme.empty() && text.find("://") != std::string::npos))
        return std::nullopt;
    auto proxy = ProxyOf(parts.host, parts.hasPort, parts.port, defaultPort);
    if (!proxy)
        return std::nullopt;
    // A SOCKS or TLS proxy is not spoken; it is returned so that it can be said.
    proxy->Scheme = parts.scheme.empty() ? defaultScheme : parts.scheme;
    const std::string_view info = parts.userInfo;
    const size_t colon = info.find(':');
    proxy->User = PercentDecoded(info.substr(0, colon));
    if (colon != std::string_view::npos)
        proxy->Password = PercentDecoded(info.substr(colon + 1));
    return proxy;
}

// The host of an entry of a no_proxy or bypass list, without a scheme before it or a port
// after it ("http://a:80" gives "a", "[::1]:8080" gives "::1"); a bare IPv6 address ("::1")
// stands as it is.
std::string EntryHost(std::string_view entry) {
    if (const size_t scheme = entry.find("://"); scheme != std::string_view::npos)
        entry.remove_prefix(scheme + 3);
    while (!entry.empty() && entry.back() == '/')
        entry.remove_suffix(1);
    // More than one colon without brackets: an IPv6 address (or a pattern of one), no port.
    if (entry.find(':') != entry.rfind(':') && entry.find('[') == std::string_view::npos)
        return std::string(entry);
    return SocketHost(SplitHostPort(entry).host);
}

// Whether `host` is `name` or a name below it.
bool IsAtOrBelow(std::string_view host, std::string_view name) {
    if (host == name)
        return true;
    return host.size() > name.size() && host.compare(host.size() - name.size(), name.size(),
                                                     name) == 0 &&
           host[host.size() - name.size() - 1] == '.';
}

// A pattern whose "*" stands for any characters, matched against all of `text`.
bool Glob(std::string_view pattern, std::string_view text) {
    size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

std::string ProxyServer::Name() const {
    return Direct ? "DIRECT" : HostAndPort(Host, Port);
}

std::string ProxyServer::Url() const {
    UrlParts parts;
    parts.scheme = Scheme;
    parts.hasAuthority = parts.hasPort = true;
    parts.host = UrlHost(Host);
    parts.port = std::to_string(Port);
    return ComposeUrl(parts);
}

std::string ProxyHostError(std::string_view host) {
    if (!host.empty() && host[0] == '[')
        return HostError(host);
    if (host.find('%') != std::string_view::npos && host.find(':') != std::string_view::npos)
        return ZoneIdError(host);
    if (host.find(':') != std::string_view::npos && !IsIpv6Address(host))
        // TRANSLATORS: %1 is the proxy server as given; its port is given as a parameter or
        // option of its own.
        return platform::Fill(platform::Tr("The proxy server %1 is not a host name or an IP "
                                           "address (its port is given apart)"),
                              {host});
    return "";
}

std::optional<ProxyServer> ParseProxyUrl(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return ProxyUrlOf(text, "http", 1080);
}

bool NoProxyMatches(std::string_view noProxy, std::string_view host) {
    const std::string name = Lower(SocketHost(host));
    IpAddress address;
    const bool isAddress = ParseIpAddress(name, address);
    for (std::string_view entry : Entries(noProxy, ", \t")) {
        if (entry == "*")
            return true;
        std::string pattern = Lower(EntryHost(entry));
        // An address matches the same address however it is written ("::1", "0::1"), and
        // nothing else: "0.0.1" is no name above 10.0.0.1.
        if (isAddress) {
            IpAddress other;
            if (ParseIpAddress(pattern, other) && other == address)
                return true;
            continue;
        }
        while (!pattern.empty() && pattern.front() == '.')
            pattern.erase(0, 1);
        if (!pattern.empty() && IsAtOrBelow(name, pattern))
            return true;
    }
    return false;
}

bool BypassListMatches(std::string_view bypass, std::string_view host) {
    std::string name = Lower(SocketHost(host));
    IpAddress address;
    const bool isAddress = ParseIpAddress(name, address);
    // Patterns see an address in one form: "2001:db8::*" matches 2001:DB8:0::5.
    if (isAddress)
        name = IpAddressText(address);
    for (std::string_view entry : Entries(bypass, "; \t")) {
        const std::string pattern = Lower(EntryHost(entry));
        IpAddress other;
        if (pattern == "<local>") {
            // A name without a dot; an IPv6 address has none either, and is no such name.
            if (!isAddress && name.find('.') == std::string::npos)
                return true;
        } else if (isAddress && ParseIpAddress(pattern, other)) {
            if (other == address)
                return true;
        } else if (!pattern.empty() && Glob(pattern, name)) {
            return true;
        }
    }
    return false;
}

std::vector<ProxyServer> ParseProxyList(std::string_view list, std::string_view scheme) {
    std::vector<ProxyServer> proxies;
    std::optional<ProxyServer> socks;
    const std::string wanted = Lower(scheme);
    for (std::string_view entry : Entries(list, "; \t")) {
        std::string entryScheme;
        if (const size_t equals = entry.find('='); equals != std::string_view::npos) {
            entryScheme = Lower(entry.substr(0, equals));
            if (entryScheme != wanted && entryScheme != "socks")
                continue;
            entry.remove_prefix(equals + 1);
        }
        if (Lower(entry) == "direct") {
            ProxyServer direct;
            direct.Direct = true;
            if (entryScheme != "socks")
                proxies.push_back(direct);
            continue;
        }
        // An entry written "scheme://host:port" is of that scheme.
        auto proxy = ProxyUrlOf(entry, entryScheme == "socks" ? "socks" : "http", 80);
        if (!proxy)
            continue;
        if (entryScheme == "socks" && wanted != "socks")
            socks = socks ? socks : proxy;
        else
            proxies.push_back(*proxy);
    }
    if (proxies.empty() && socks)
        proxies.push_back(*socks);
    return proxies;
}

} // namespace platform
