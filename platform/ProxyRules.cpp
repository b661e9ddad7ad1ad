#include "platform/ProxyRules.h"

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

// "host[:port]" with `defaultPort` when none is written.
std::optional<ProxyServer> HostAndPort(std::string_view text, int32_t defaultPort) {
    ProxyServer proxy;
    const size_t colon = text.rfind(':');
    std::string_view host = text.substr(0, colon);
    proxy.Port = defaultPort;
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        proxy.Port = std::stoi(std::string(port));
        if (proxy.Port < 1 || proxy.Port > 65535)
            return std::nullopt;
    }
    if (!ValidHost(host))
        return std::nullopt;
    proxy.Host = std::string(host);
    return proxy;
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

// An entry without a scheme before it or a port after it ("http://a:80" gives "a").
std::string_view BareHost(std::string_view entry) {
    if (const size_t scheme = entry.find("://"); scheme != std::string_view::npos)
        entry.remove_prefix(scheme + 3);
    if (const size_t colon = entry.find(':'); colon != std::string_view::npos)
        entry = entry.substr(0, colon);
    while (!entry.empty() && entry.back() == '/')
        entry.remove_suffix(1);
    return entry;
}

} // namespace

std::string ProxyServer::Name() const {
    return Direct ? "DIRECT" : Host + ":" + std::to_string(Port);
}

std::optional<ProxyServer> ParseProxyUrl(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    std::string scheme = "http";
    if (const size_t end = text.find("://"); end != std::string_view::npos) {
        // A SOCKS or TLS proxy is not spoken; it is returned so that it can be said.
        scheme = Lower(text.substr(0, end));
        if (scheme.empty())
            return std::nullopt;
        text.remove_prefix(end + 3);
    }
    if (const size_t slash = text.find('/'); slash != std::string_view::npos)
        text = text.substr(0, slash);
    std::string user, password;
    if (const size_t at = text.rfind('@'); at != std::string_view::npos) {
        const std::string_view info = text.substr(0, at);
        const size_t colon = info.find(':');
        user = PercentDecoded(info.substr(0, colon));
        if (colon != std::string_view::npos)
            password = PercentDecoded(info.substr(colon + 1));
        text.remove_prefix(at + 1);
    }
    auto proxy = HostAndPort(text, 1080);
    if (proxy) {
        proxy->User = std::move(user);
        proxy->Password = std::move(password);
        proxy->Scheme = std::move(scheme);
    }
    return proxy;
}

bool NoProxyMatches(std::string_view noProxy, std::string_view host) {
    const std::string name = Lower(host);
    for (std::string_view entry : Entries(noProxy, ", \t")) {
        if (entry == "*")
            return true;
        std::string pattern = Lower(BareHost(entry));
        while (!pattern.empty() && pattern.front() == '.')
            pattern.erase(0, 1);
        if (!pattern.empty() && IsAtOrBelow(name, pattern))
            return true;
    }
    return false;
}

bool BypassListMatches(std::string_view bypass, std::string_view host) {
    const std::string name = Lower(host);
    for (std::string_view entry : Entries(bypass, "; \t")) {
        const std::string pattern = Lower(BareHost(entry));
        if (pattern == "<local>") {
            if (name.find('.') == std::string::npos)
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
        std::string proxyScheme = entryScheme == "socks" ? "socks" : "http";
        if (const size_t schemeEnd = entry.find("://"); schemeEnd != std::string_view::npos) {
            proxyScheme = Lower(entry.substr(0, schemeEnd));
            entry.remove_prefix(schemeEnd + 3);
        }
        auto proxy = HostAndPort(entry, 80);
        if (!proxy)
            continue;
        proxy->Scheme = proxyScheme;
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
