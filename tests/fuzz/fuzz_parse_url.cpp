// ParseURL of the HTTP client, and the composition of the request from what it split; the
// same text as a redirect's Location, resolved against a URL. The first byte chooses direct
// or through a proxy; the rest is the URL.
#include "net/NMHttp.h"
#include "net/UrlParts.h"
#include "tests/fuzz/FuzzCheck.h"

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
        net::ResolveReference("http://previous.host/a/b?c", client.CurrentURL);
    fuzz::Check(target.find('#') == std::string::npos, "no fragment in a resolved URL");
    fuzz::Check(target.find(':') != std::string::npos && target.find(':') > 0,
                "a resolved URL has a scheme");
    try {
        client.ParseURL();
    } catch (const net::ESockError &) {
        return 0; // an empty URL or a bad port: refused before anything is sent
    }
    fuzz::Check(client.Port >= 1 && client.Port <= 65535, "a port in range");
    fuzz::Check(!client.RequestPath.empty(), "a request path");
    fuzz::Check(client.RequestPath.size() <= client.CurrentURL.size() + 1,
                "the path is part of the URL (with a \"/\" before a bare query)");
    fuzz::Check(client.Host.find('/') == std::string::npos, "no '/' in the host");
    try {
        client.BuildRequest();
    } catch (const net::ESockError &) {
        return 0; // a request line too long
    }
    const std::string text = client.SendHeader.Text();
    fuzz::Check(text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0,
                "the request ends with an empty line");
    return 0;
}
