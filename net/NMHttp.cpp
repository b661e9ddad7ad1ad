// TNMHTTP: the entry points, the request cycle and the redirect step.
#include "net/NMHttp.h"

#include "net/NMHttpParse.h"
#include "net/NMURL.h"
#include "platform/Catalogue.h"
#include "platform/SystemProxy.h"
#include "platform/Url.h"

#include <algorithm>

namespace net {
namespace {

// A URL as the system's proxy settings look at it.
struct Route {
    std::string url, scheme, host;
};

// Whether the system's proxy settings reach `target` directly (a host on no_proxy or on the
// bypass list, a configuration script's DIRECT) although they give the proxy `proxy`:`port`
// for `from`. A proxy they do not give for `from` is the caller's own (the options'): it
// serves every host. A target for whose scheme they name no proxy at all keeps it too.
bool SystemBypasses(const Route &from, const Route &target, const std::string &proxy,
                    int32_t port) {
    std::string source;
    const auto before = platform::SystemProxiesFor(from.url, from.scheme, from.host, source);
    const bool theirs = std::any_of(before.begin(), before.end(), [&](const auto &p) {
        return !p.Direct && LowerCase(p.Host) == LowerCase(proxy) && p.Port == port;
    });
    if (!theirs)
        return false;
    const auto after = platform::SystemProxiesFor(target.url, target.scheme, target.host, source);
    return after.empty() ? !source.empty() : after.front().Direct;
}

} // namespace

const char *VerbText(CmdType cmd) {
    static constexpr const char *verbs[] = {"GET ",  "OPTIONS ", "HEAD ",   "POST ",
                                            "PUT ",  "PATCH ",   "COPY ",   "MOVE ",
                                            "DELETE ", "LINK ",  "UNLINK ", "TRACE "};
    return verbs[cmd];
}

TNMHTTP::TNMHTTP() = default;

TNMHTTP::~TNMHTTP() {
    // As the socket component's own destruction does: no reports while going away.
    Destroying = true;
    AbortOperation();
}

void TNMHTTP::AbortOperation() {
    LookupDone = true;
    Cancel();
}

void TNMHTTP::Run(const std::string &URL, CmdType cmd) {
    CurrentURL = URL;
    Command = cmd;
    ExecuteRequest();
}

void TNMHTTP::Get(const std::string &URL) { Run(URL, cmdGet); }
void TNMHTTP::Options(const std::string &URL) { Run(URL, cmdOptions); }
void TNMHTTP::Head(const std::string &URL) { Run(URL, cmdHead); }
void TNMHTTP::Delete(const std::string &URL) { Run(URL, cmdDelete); }

void TNMHTTP::Post(const std::string &URL, const std::string &PostData) {
    if (OutputFileMode)
        SendData = PostData;
    else {
        TNMURL decoder;
        decoder.InputString = PostData;
        SendData = decoder.Decode();
    }
    Run(URL, cmdPost);
}

void TNMHTTP::Put(const std::string &URL, const std::string &PutData) {
    SendData = PutData;
    Run(URL, cmdPut);
}

void TNMHTTP::Patch(const std::string &URL, const std::string &PatchData) {
    SendData = PatchData;
    Run(URL, cmdPatch);
}

void TNMHTTP::Trace(const std::string &URL, const std::string &TraceData) {
    SendData = TraceData;
    Run(URL, cmdTrace);
}

void TNMHTTP::Copy(const std::string &URL, const std::string &Destination) {
    TargetURI = Destination;
    Run(URL, cmdCopy);
}

void TNMHTTP::Move(const std::string &URL, const std::string &Destination) {
    TargetURI = Destination;
    Run(URL, cmdMove);
}

void TNMHTTP::Link(const std::string &URL, const std::string &LinkText) {
    TargetURI = LinkText;
    SendData = NMConst::sSendFile;
    Run(URL, cmdLink);
}

void TNMHTTP::Unlink(const std::string &URL, const std::string &LinkText) {
    TargetURI = LinkText;
    SendData = NMConst::sSendFile;
    Run(URL, cmdUnlink);
}

void TNMHTTP::ExecuteRequest() {
    // A size request stays a size request when it is redirected; other commands continue
    // as GET.
    const CmdType redirectedCommand = Command == cmdHead ? cmdHead : cmdGet;
    bool startedSecure = false;
    // The proxy the caller chose for the first URL, and that URL: a redirect's target goes
    // through it unless the system's settings, which chose it, reach the target directly.
    const std::string callerProxy = Proxy;
    const int32_t callerProxyPort = ProxyPort;
    Route first;
    for (int redirects = 0;; ++redirects) {
        ParseURL();
        // A download that began encrypted never continues in plain text: a redirect to
        // http is followed only when the caller's URL was http already.
        if (redirects == 0) {
            startedSecure = UseTls;
            first = Route{AbsoluteURL(), Scheme, Host};
        } else if (startedSecure && !UseTls) {
            throw ESockError(platform::Fill(platform::Tr(NMConst::sDowngradeRefused),
                                            {platform::ShownUrl(CurrentURL)}));
        } else if (!callerProxy.empty()) {
            const bool direct = SystemBypasses(first, Route{AbsoluteURL(), Scheme, Host},
                                               callerProxy, callerProxyPort);
            Proxy = direct ? "" : callerProxy;
            ProxyPort = direct ? 0 : callerProxyPort;
        }
        ForgetCookieOfOtherHost();
        BeginProxyRequest();
        BuildRequest();
        if (OnAboutToSend)
            OnAboutToSend(this);
        Connect();
        // A proxy's handshake asks the same again on the same connection, with each token.
        while (RunPass()) {
            BuildRequest();
            if (OnAboutToSend)
                OnAboutToSend(this);
        }

        const int n = ReplyNumber;
        const bool redirect = n >= 300 && n <= 398;
        bool handled = false;
        if (redirect)
            FollowRedirect(handled);
        if (n == 401 && OnAuthenticationNeeded)
            OnAuthenticationNeeded(this);
        // Any status but a redirect (299 and 399 included) ends the cycle.
        if (!redirect || handled)
            return;
        if (redirects + 1 > kMaxRedirects)
            throw ESockError(platform::Tr(NMConst::sTooManyRedirects));
        Command = redirectedCommand;
    }
}

void TNMHTTP::CaptureBody(CmdType sent) {
    const int n = ReplyNumber;
    // A server that keeps the connection open (a proxy asked for Keep-Alive) sends no close
    // after the body: the body ends at its length. Without one it ends at the close.
    const bool none = !ReadBody || sent == cmdHead || (n >= 100 && n < 200) || n == 204 || n == 304;
    CaptureLimit = none ? 0 : ContentLength;
    if (InputFileMode && BodyStream)
        CaptureStream(*BodyStream);
    else if (InputFileMode)
        CaptureFile(Body);
    else
        CaptureString(Body, -1);
}

bool TNMHTTP::RunPass() {
    const CmdType sent = Command; // SendRequest resets it
    try {
        SendRequest();
        ReadResponseHeader();
        CaptureBody(sent);
        const int n = ReplyNumber;
        // The handshake's next token goes on this connection; one the proxy closed carries
        // none (a first token may still go on a new one).
        if (n == 407 && ToProxy() && (IsConnected || !HandshakeRunning()) && NextHandshakeLeg()) {
            Command = sent;
            if (!IsConnected) {
                Disconnect();
                Connect();
            }
            return true;
        }
        if (n < 299) {
            if (OnSuccess)
                OnSuccess(Command);
            ReportStatus(2, NMConst::sTransactionCompleted);
        } else if (n > 399) {
            if (OnFailure)
                OnFailure(Command);
        }
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The first failure is the one the caller needs to see.
        }
        throw;
    }
    Disconnect();
    return false;
}

void TNMHTTP::FollowRedirect(bool &handled) {
    handled = false;
    if (!ReceivedCookie.empty()) {
        if (CookieHost.empty())
            CallerCookie = HeaderInfo.Cookie;
        HeaderInfo.Cookie = ReceivedCookie;
        CookieHost = Host;
    }
    if (OnRedirect)
        OnRedirect(handled);
    if (handled)
        return;
    // The target is a reference seen from the URL just requested; without a Location the
    // same URL is asked again.
    if (Location.empty())
        return;
    const std::string target = platform::ResolveReference(AbsoluteURL(), Location);
    // A bare CR or LF would end the next request line early and add lines of its own.
    if (const std::string control = platform::ControlCharacterIn(target); !control.empty())
        throw ESockError(
            platform::Fill(platform::Tr(NMConst::sControlCharacterInRedirect), {control}));
    // This client speaks HTTP only: an ftp or gopher target fetched as HTTP would ask another
    // service for something else.
    const std::string scheme = platform::SchemeOf(target);
    if (scheme != "http" && scheme != "https")
        throw ESockError(platform::Fill(platform::Tr(NMConst::sRedirectSchemeRefused), {scheme}));
    CurrentURL = target;
}

void TNMHTTP::ForgetCookieOfOtherHost() {
    if (CookieHost.empty() || LowerCase(CookieHost) == LowerCase(Host))
        return;
    HeaderInfo.Cookie = CallerCookie;
    CookieHost.clear();
    CallerCookie.clear();
}

} // namespace net
