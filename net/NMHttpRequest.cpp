// TNMHTTP: URL splitting, request composition and sending.
#include "net/NMHttp.h"

#include "net/NMHttpParse.h"
#include "net/NMUUE.h"
#include "platform/Catalogue.h"
#include "platform/Url.h"

namespace net {
namespace {

std::string RequestLine(CmdType command, const std::string &target) {
    return std::string(VerbText(command)) + target + " HTTP/1.0";
}

// The request target of a path and query: the root for none, a "/" before a bare query.
std::string TargetOf(const std::string &pathAndQuery) {
    const std::string target = platform::RequestTarget(pathAndQuery);
    return target.empty() ? "/" : target[0] == '?' ? "/" + target : target;
}

} // namespace

std::string RangeValue(const ByteRange &range) {
    return "bytes=" + std::to_string(range.first) + "-" +
           (range.last < 0 ? "" : std::to_string(range.last));
}

int32_t TNMHTTP::DefaultPort() const {
    return Scheme == "gopher" ? 70 : Scheme == "ftp" ? 21 : Scheme == "https" ? 443 : 80;
}

void TNMHTTP::ParseURL() {
    if (CurrentURL.empty())
        throw ESockError(platform::Tr(NMConst::sEmptyURL));
    // A CR or LF would end the request line early and add header lines of its own.
    if (const std::string control = platform::ControlCharacterIn(CurrentURL); !control.empty())
        throw ESockError(platform::Fill(platform::Tr(NMConst::sControlCharacterInURL), {control}));
    if (Port == 0)
        Port = 80;
    const platform::UrlParts url = platform::SplitUrl(CurrentURL);
    // "https" is spoken over TLS; every other scheme as plain HTTP. A URL without a scheme (a
    // path on the same host) keeps the scheme with the host and port.
    if (!url.scheme.empty()) {
        Scheme = url.scheme;
        UseTls = Scheme == "https";
        Port = DefaultPort();
    }
    // A zone id or a malformed IPv6 literal is refused before any lookup.
    if (const std::string error = platform::HostError(url.host); !error.empty())
        throw ESockError(error);
    // An empty port ("host:/f") is the scheme's default port.
    if (url.hasPort && !url.port.empty()) {
        int64_t port = StrictInteger(url.port);
        if (port < 1 || port > 65535)
            throw ESockError(
                platform::Fill(platform::Tr(NMConst::sInvalidPort), {std::to_string(port)}));
        Port = static_cast<int32_t>(port);
    }
    // The socket looks up the bare address of an IPv6 literal; HostLine puts its brackets back.
    if (!url.host.empty())
        Host = platform::SocketHost(url.host);
    RequestPath = TargetOf(url.pathAndQuery);
    if (url.pathAndQuery.empty())
        CurrentURL += "/";
}

size_t TNMHTTP::LongestRequestLine(const std::string &url) {
    platform::UrlParts parts = platform::SplitUrl(url);
    const std::string target = TargetOf(parts.pathAndQuery);
    parts.pathAndQuery.clear();
    return RequestLine(cmdHead, platform::ComposeUrl(parts) + target).size();
}

std::string TNMHTTP::AbsoluteURL() const {
    // What a proxy needs, and what a redirect is resolved against.
    return OriginURL() + RequestPath;
}

std::string TNMHTTP::OriginURL() const {
    return Scheme + "://" + HostLine();
}

std::string TNMHTTP::HostLine() const {
    // The port is named when it is not the scheme's: a server that builds absolute URLs
    // (redirects) from the Host line then names the port it was reached on.
    return platform::HostAndPort(Host, Port != DefaultPort() ? Port : 0);
}

void TNMHTTP::BuildRequest() {
    SendHeader.Clear();
    // Through a tunnel (TLS) the origin gets the request a direct connection carries.
    const std::string requestLine = RequestLine(Command, ToProxy() ? AbsoluteURL() : RequestPath);
    if (requestLine.size() > kMaxRequestLine)
        throw ESockError(platform::Fill(platform::Tr(NMConst::sRequestTooLong),
                                        {std::to_string(requestLine.size())}));
    SendHeader.Add(requestLine);
    const std::string host = Host.empty() ? "" : HostLine();
    if (ToProxy()) {
        SendHeader.Add("Proxy-Connection: Keep-Alive");
        SendHeader.Add("Host: " + host);
        // To the proxy only: a request on a direct connection or in a tunnel never has it.
        if (!ProxyAuthorizationValue().empty())
            SendHeader.Add("Proxy-Authorization: " + ProxyAuthorizationValue());
    }
    SendHeader.SetHeader("Host", host);
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
    // If-Range only ever goes with a range.
    if (Range.first >= 0) {
        SendHeader.Add("Range: " + RangeValue(Range));
        if (const std::string control = platform::ControlCharacterIn(IfRange); !control.empty())
            throw ESockError(
                platform::Fill(platform::Tr(NMConst::sControlCharacterInValidator), {control}));
        if (!IfRange.empty())
            SendHeader.Add("If-Range: " + IfRange);
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
