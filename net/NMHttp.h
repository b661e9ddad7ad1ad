#pragma once

#include "net/NMConst.h"
#include "net/NMExtstr.h"
#include "net/Psock.h"
#include "net/ResponseHead.h"

#include <cstdint>
#include <functional>
#include <string>

namespace net {

// The command of a request, with the verb it puts into the request line.
enum CmdType : uint8_t {
    cmdGet,
    cmdOptions,
    cmdHead,
    cmdPost,
    cmdPut,
    cmdPatch,
    cmdCopy,
    cmdMove,
    cmdDelete,
    cmdLink,
    cmdUnlink,
    cmdTrace,
};

// The verb text of a command, ending in one space ("GET ").
const char *VerbText(CmdType cmd);

// Values of the optional request headers. LocalMailAddress fills the User-Agent line and
// LocalProgram the From line.
class THeaderInfo {
  public:
    std::string LocalMailAddress, LocalProgram, Cookie, Referer, UserId, Password;
};

using TResultEvent = std::function<void(CmdType Cmd)>;

// The bytes a request asks for: from `first` to `last` (-1: to the end of the file); no range
// while `first` is -1.
struct ByteRange {
    int64_t first = -1;
    int64_t last = -1;
};
// The value of its Range line: "bytes=0-99", "bytes=100-".
std::string RangeValue(const ByteRange &range);

// An HTTP/1.0 client on the socket component. Every entry point runs one request cycle: split
// the URL, compose the request, connect, send, read the response header and the body (the
// Content-Length's bytes, or until the server closes when there is none; nothing after a HEAD
// request, a 204 or a 304), classify the status, close, follow redirects. Each blocks the calling
// thread until the cycle ends and lets every exception of the cycle (ESockError, EAbortError,
// EFileStreamError) reach the caller; an HTTP error status raises nothing but fires OnFailure.
// A redirect is followed to http and https targets only, never from https to http, never to a
// target with a control character (each raises ESockError naming why); through a proxy that
// the system's settings gave, a target those settings reach directly is asked directly (Proxy
// and ProxyPort then stay as the last request of the cycle used them).
class TNMHTTP : public TPowersock {
  public:
    TNMHTTP();
    ~TNMHTTP() override;

    void Get(const std::string &URL);
    void Options(const std::string &URL);
    void Head(const std::string &URL);
    void Delete(const std::string &URL);
    void Post(const std::string &URL, const std::string &PostData);
    void Put(const std::string &URL, const std::string &PutData);
    void Patch(const std::string &URL, const std::string &PatchData);
    void Trace(const std::string &URL, const std::string &TraceData);
    void Copy(const std::string &URL, const std::string &Destination);
    void Move(const std::string &URL, const std::string &Destination);
    void Link(const std::string &URL, const std::string &LinkText);
    void Unlink(const std::string &URL, const std::string &LinkText);

    // Ends a lookup wait at once and cancels the running socket wait. Safe from any thread.
    void AbortOperation() override;

    // The steps of the request cycle, in the order ExecuteRequest runs them.
    virtual void ExecuteRequest();
    // Splits CurrentURL into Scheme, Host, Port and RequestPath (with the bytes a request line
    // cannot carry percent-encoded: RequestTarget); throws ESockError for an empty URL, a URL
    // with a control character or a bad port, before anything is sent. The URL's user
    // information is neither sent nor shown.
    virtual void ParseURL();
    // Composes SendHeader: the request line and the header lines in their fixed order, Range
    // and If-Range last.
    virtual void BuildRequest();
    // Reads the status line and the header lines of the response.
    virtual void ReadResponseHeader();
    // Sends SendHeader (and the request data) and resets Command to cmdGet.
    virtual void SendRequest();

    // Published.
    std::string Body = NMConst::sBodyFile;
    std::string Header = NMConst::sHeadFile;
    THeaderInfo HeaderInfo;
    bool InputFileMode = false;
    bool OutputFileMode = false;
    TNotifyEvent OnAboutToSend;
    TResultEvent OnSuccess, OnFailure;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // The request being prepared; an OnAboutToSend handler may read and change it.
    TExStringList SendHeader;
    // The bytes every request of the cycle asks for (none by default), and the validator sent
    // in an If-Range line beside a range (empty: none): a server whose file no longer has it
    // answers with the whole new file instead of the range. A validator with a control
    // character ends the request before anything is sent.
    ByteRange Range;
    std::string IfRange;

    // False: each pass ends after the response's header block; its body is not read.
    bool ReadBody = true;
    // With InputFileMode: where the body goes instead of the file named by Body (the caller's
    // stream; a handler of the response header may change it for each pass).
    TStream *BodyStream = nullptr;

    // The request cycle's working state.
    std::string Scheme = "http"; // lower case
    std::string RequestPath;
    std::string ReceivedCookie;
    std::string SendData;
    std::string TargetURI;
    std::string CurrentURL;
    CmdType Command = cmdGet;
    // Of the last response: its head as read (a status line that is not HTTP's, or a head too
    // long, ends the request with ESockError naming why), the Content-Length (-1 when it has
    // none, or none that bounds the body: a transfer coding, lengths that disagree), and the
    // Location value as received ("" when none).
    ResponseHead Response;
    int64_t ContentLength = -1;
    std::string Location;

    // Redirects followed in one request at most; one more raises "Too many redirects".
    static constexpr int kMaxRedirects = 20;
    // Longest request line sent: what servers take (nginx's and Apache's default limits are
    // about 8 KiB); a longer one ends the request with "Request line too long" before it is sent.
    static constexpr size_t kMaxRequestLine = 8192;
    // The length of the longest request line that a download of `url` sends: a size request
    // (HEAD) through a proxy, which names the whole URL (without its user information and
    // fragment, encoded as ParseURL encodes the path). Pure: nothing is sent.
    static size_t LongestRequestLine(const std::string &url);
    // Longest response header block read (status line and header lines); a longer one ends
    // the request with "Response header too long".
    static constexpr size_t kMaxResponseHeader = 256 * 1024;

  private:
    void Run(const std::string &URL, CmdType cmd);
    // One request and its answer on the open connection, which it then closes; true (the
    // connection kept open) when a proxy's handshake asks the request again.
    bool RunPass();
    void FollowRedirect(bool &handled);
    void ForgetCookieOfOtherHost();
    // The URL of the current request: OriginURL and RequestPath.
    std::string AbsoluteURL() const;
    // Scheme, host and (when not the scheme's default) port of the current request.
    std::string OriginURL() const;
    // The value of the Host line: the host, and the port when it is not the scheme's default.
    std::string HostLine() const;
    int32_t DefaultPort() const;
    // Whether the request goes to the proxy itself (plain HTTP through a proxy; a TLS
    // request goes through a tunnel to the origin).
    bool ToProxy() const { return !Proxy.empty() && !UseTls; }
    // Reads the body of the response whose header block was just read, as far as it goes.
    void CaptureBody(CmdType sent);

    // A cookie taken over from a redirect response belongs to the host that set it.
    std::string CookieHost;
    std::string CallerCookie; // HeaderInfo.Cookie as it was before the takeover
};

} // namespace net
