// TNMHTTP: URL splitting, request composition and sending.
#include "net/NMHttp.h"

#include "net/NMHttpParse.h"
#include "net/NMUUE.h"

namespace net {
namespace {

bool Contains(const std::string &s, const char *what) { return s.find(what) != std::string::npos; }

} // namespace

void TNMHTTP::ParseURL() {
    const std::string &url = CurrentURL;
    if (url.empty())
        throw ESockError(NMConst::sEmptyURL);
    if (Port == 0)
        Port = 80;

    const bool hasScheme = Contains(url, "//");
    if (hasScheme) {
        size_t third = static_cast<size_t>(NthCharPos(url, '/', 3));
        RequestPath = third <= url.size() ? url.substr(third - 1) : "";
    } else if (size_t slash = url.find('/'); slash != std::string::npos) {
        RequestPath = url.substr(slash);
    } else {
        RequestPath.clear();
    }

    if (size_t colon = url.find(':'); colon != std::string::npos) {
        std::string scheme = LowerCase(url.substr(0, colon));
        // "https" is spoken over TLS; every other scheme as plain HTTP. A URL without a
        // colon (a path on the same host) keeps the scheme with the host and port.
        UseTls = scheme == "https";
        Port = scheme == "gopher" ? 70 : scheme == "ftp" ? 21 : UseTls ? 443 : 80;
    }

    std::string hostPart;
    if (hasScheme)
        hostPart = NthField(url, '/', 3);
    else if (url[0] != '/')
        hostPart = NthField(url, '/', 1);

    if (size_t colon = hostPart.find(':'); colon != std::string::npos) {
        int64_t port = StrictInteger(NthField(hostPart, ':', 2));
        if (port < 1 || port > 65535)
            throw ESockError(NMConst::sInvalidPort + std::to_string(port));
        Port = static_cast<int32_t>(port);
        hostPart.resize(colon);
    }
    if (!hostPart.empty())
        Host = hostPart;
    if (RequestPath.empty()) {
        RequestPath = "/";
        CurrentURL += "/";
    }
}

std::string TNMHTTP::AbsoluteURL() const {
    // A proxy needs the absolute URL; a relative one (a redirect to "/path", or a URL given
    // without a scheme) is completed with the host and port it is requested from.
    if (Contains(CurrentURL, "//"))
        return CurrentURL;
    return OriginURL() + RequestPath;
}

std::string TNMHTTP::OriginURL() const {
    const int defaultPort = UseTls ? 443 : 80;
    std::string port = Port != defaultPort ? ":" + std::to_string(Port) : "";
    return (UseTls ? "https://" : "http://") + Host + port;
}

void TNMHTTP::BuildRequest() {
    SendHeader.Clear();
    // Through a tunnel (TLS) the origin gets the request a direct connection carries.
    const bool viaProxy = !Proxy.empty() && !UseTls;
    std::string requestLine =
        std::string(VerbText(Command)) + (viaProxy ? AbsoluteURL() : RequestPath) + " HTTP/1.0";
    if (requestLine.size() > kMaxRequestLine)
        throw ESockError(std::string(NMConst::sRequestTooLong) + " (" +
                         std::to_string(requestLine.size()) + " characters)");
    SendHeader.Add(requestLine);
    if (viaProxy) {
        SendHeader.Add("Proxy-Connection: Keep-Alive");
        SendHeader.Add("Host: " + Host);
    }
    SendHeader.SetHeader("Host", Host);
    SendHeader.Add(NMConst::sAccept1);
    SendHeader.Add(NMConst::sAccept2);
    const THeaderInfo &h = HeaderInfo;
    if (!h.LocalMailAddress.empty())
        SendHeader.SetHeader("User-Agent", h.LocalMailAddress);
    if (!h.LocalProgram.empty())
        SendHeader.SetHeader("From", h.LocalProgram);
    if (!h.Cookie.empty())
        SendHeader.SetHeader("Cookie", h.Cookie);
    if (!h.Referer.empty())
        SendHeader.SetHeader("Referer", h.Referer);
    if (!h.UserId.empty() && !h.Password.empty())
        SendHeader.SetHeader("Authorization", "Basic " + Base64Line(h.UserId + ":" + h.Password));
    SendHeader.Add(NMConst::sContentType);
    if (Command == cmdCopy || Command == cmdMove)
        SendHeader.Add("URI-header: " + TargetURI);
    else if (Command == cmdLink || Command == cmdUnlink)
        SendHeader.Add("Link: " + TargetURI);
    if (Command == cmdPost || Command == cmdPut || Command == cmdPatch || Command == cmdTrace) {
        int64_t size = static_cast<int64_t>(SendData.size());
        if (OutputFileMode)
            size = TFileStream(SendData, TFileStream::Mode::OpenRead).Size();
        SendHeader.Add("Content-Length: " + std::to_string(size));
    }
    SendHeader.Add("");
}

void TNMHTTP::SendRequest() {
    Write(SendHeader.Text());
    if (Command == cmdPost || Command == cmdPut || Command == cmdPatch || Command == cmdTrace) {
        if (OutputFileMode)
            SendFile(SendData);
        else
            Write(SendData);
    }
    Command = cmdGet;
}

} // namespace net
