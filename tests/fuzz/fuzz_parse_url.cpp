// ParseURL of the HTTP client, and the composition of the request from what it split; the
// same text as a redirect's Location, resolved against a URL; the URL as texts show it; the
// URL split and composed again. The first byte chooses direct or through a proxy; the rest is
// the URL.
#include "net/NMHttp.h"
#include "platform/Url.h"
#include "platform/IpAddress.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// A URL composed from its parts splits into the same parts; a host in brackets that names a
// server holds an IPv6 address, which the socket gets without them.
void CheckParts(const platform::UrlParts &parts) {
    const platform::UrlParts again = platform::SplitUrl(platform::ComposeUrl(parts));
    fuzz::Check(again.scheme == parts.scheme && again.hasAuthority == parts.hasAuthority &&
                    again.host == parts.host && again.hasPort == parts.hasPort &&
                    again.port == parts.port && again.pathAndQuery == parts.pathAndQuery,
                "a composed URL splits into the same parts");
    if (parts.host.empty() || parts.host[0] != '[' || !platform::HostError(parts.host).empty())
        return;
    platform::IpAddress address;
    const std::string bare = platform::SocketHost(parts.host);
    fuzz::Check(platform::ParseIpAddress(bare, address) &&
                    address.family == platform::IpAddress::Family::V6,
                "a bracketed host taken is an IPv6 address");
    fuzz::Check(platform::UrlHost(bare) == parts.host, "its brackets come back for a URL");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    static net::TNMHTTP client; // one component, as a worker's attempt has
    client.Host = "previous.host";
    client.Port = 0;
    client.Proxy = data[0] & 1 ? "proxy.local" : "";
    client.Command = static_cast<net::CmdType>(data[0] % 12);
    client.CurrentURL = fuzz::Text(data + 1, size - 1);
    const std::string target =
        platform::ResolveReference("http://previous.host/a/b?c", client.CurrentURL);
    fuzz::Check(target.find('#') == std::string::npos, "no fragment in a resolved URL");
    fuzz::Check(target.find(':') != std::string::npos && target.find(':') > 0,
                "a resolved URL has a scheme");
    // A redirect is followed only to http and https, judged by SchemeOf: the client then takes
    // that scheme, never another (it may take none, and the URL then fails as a host:port).
    const std::string scheme = platform::SchemeOf(target);
    const std::string taken = platform::SplitUrl(target).scheme;
    fuzz::Check((scheme != "http" && scheme != "https") || taken.empty() || taken == scheme,
                "a redirect judged http or https is fetched so");
    const std::string url = client.CurrentURL;
    const std::string shown = platform::ShownUrl(url);
    fuzz::Check(platform::ShownUrl(shown) == shown, "a shown URL shows as it is");
    const platform::UrlParts parts = platform::SplitUrl(url), shownParts = platform::SplitUrl(shown);
    CheckParts(parts);
    fuzz::Check(shownParts.host == parts.host && shownParts.port == parts.port &&
                    shownParts.pathAndQuery == parts.pathAndQuery,
                "only the user information is hidden");
    const size_t longest = net::TNMHTTP::LongestRequestLine(url);
    try {
        client.ParseURL();
    } catch (const net::ESockError &) {
        // An empty URL, a control character, a host that names no server or a bad port:
        // refused before anything is sent.
        fuzz::Check(url.empty() || !platform::ControlCharacterIn(url).empty() ||
                        !platform::HostError(parts.host).empty() || parts.hasPort,
                    "a URL is refused for a reason");
        return 0;
    }
    fuzz::Check(platform::ControlCharacterIn(url).empty(), "no URL with a control character is taken");
    fuzz::Check(client.Port >= 1 && client.Port <= 65535, "a port in range");
    fuzz::Check(!client.RequestPath.empty() && client.RequestPath.find(' ') == std::string::npos,
                "a request path without blanks");
    for (char c : client.RequestPath)
        fuzz::Check(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f,
                    "a request path of printable ASCII");
    fuzz::Check(client.Host.find('/') == std::string::npos, "no '/' in the host");
    fuzz::Check(client.Host.find('@') == std::string::npos, "no user information in the host");
    fuzz::Check(client.Host.find_first_of("[]") == std::string::npos,
                "the socket's host without brackets");
    try {
        client.BuildRequest();
    } catch (const net::ESockError &) {
        return 0; // a request line too long
    }
    const std::string text = client.SendHeader.Text();
    fuzz::Check(text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0,
                "the request ends with an empty line");
    const std::string line = text.substr(0, text.find("\r\n"));
    fuzz::Check(line.find_first_of("\r\n") == std::string::npos, "the request line is one line");
    const bool named = !parts.scheme.empty() && !parts.host.empty();
    if (named && (client.Command == net::cmdHead || client.Command == net::cmdGet))
        fuzz::Check(line.size() <= longest, "no request line longer than LongestRequestLine");
    return 0;
}
