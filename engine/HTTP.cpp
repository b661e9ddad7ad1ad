#include "engine/HTTP.h"

#include "engine/BodyCoding.h"
#include "engine/HttpDate.h"
#include "net/SocketErrorTable.h"
#include "platform/Catalogue.h"
#include "platform/ProcessInfo.h"
#include "platform/ThreadTimer.h"
#include "platform/Url.h"

#include <algorithm>
#include <memory>

namespace engine {

const char *const UserAgent =
    "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 2.0.50727; .NET CLR "
    "1.1.4322; .NET CLR 3.0.04506.30; InfoPath.1)";

namespace {

using platform::Fill;
using platform::Tr;

// The time-out of a size request: each connect phase, and data inactivity.
constexpr int32_t kSizeRequestTimeOut = 30000;

// "30": a bound in whole seconds, rounded up.
std::string WholeSeconds(std::chrono::milliseconds bound) {
    return std::to_string((bound.count() + 999) / 1000);
}

// The program's file name, without the folder it runs from: the folder usually names the
// user's account, and the From line goes to every server and proxy.
std::string ProgramFileName() {
    const std::string path = platform::ProgramPath();
    return path.substr(path.find_last_of(platform::PathSeparator()) + 1);
}

void Configure(net::TNMHTTP &client, const std::string &proxy, int32_t proxyPort) {
    client.ReportLevel = 4;
    client.Proxy = proxy;
    client.ProxyPort = proxyPort;
    client.HeaderInfo.LocalMailAddress = UserAgent;
    client.HeaderInfo.LocalProgram = ProgramFileName();
    client.OutputFileMode = false;
}

bool Successful(int status) { return status >= 200 && status <= 299; }

// The size a location tells: a 2xx HEAD answer's Content-Length; -1 when it tells none. The
// length of a coded answer is the coding's, not the file's.
int64_t SizeOfHeadAnswer(const net::TNMHTTP &client) {
    if (!client.Response.contentCodings.empty())
        return -1;
    return Successful(client.ReplyNumber) ? client.ContentLength : -1;
}

// The size a "Range: bytes=0-0" answer tells: the complete length of a 206's (or a 416's)
// Content-Range, or a 200's Content-Length; -1 when it tells none (a coded answer's ranges and
// lengths are the coding's).
int64_t SizeOfRangeAnswer(const net::TNMHTTP &client) {
    const net::ResponseHead &head = client.Response;
    if (!head.contentCodings.empty())
        return -1;
    if (head.status == 200)
        return client.ContentLength;
    if (head.status != 206 && head.status != 416)
        return -1;
    return head.contentRange ? head.contentRange->complete : -1;
}

} // namespace

RangeRequest ComposeRange(int64_t s, int64_t e, int64_t m, int64_t expectedBefore) {
    RangeRequest r;
    r.expected = expectedBefore;
    if (s == -1 && e == -1)
        return r;
    // Without a first byte the range starts at the file's first: "bytes=-E" would ask for the
    // last E bytes instead.
    if (s == -1)
        s = 0;
    if (m > 0 && (e == -1 || e - s + 1 > m))
        e = s + m - 1;
    r.range = net::ByteRange{s, e};
    r.expected = e - s + 1;
    return r;
}

void SizeRequestAbort::Abort() {
    aborted_ = true;
    if (client_) {
        client_->Abandoned = true;
        client_->AbortOperation();
    }
}

bool FetchFileInfo(const std::string &Url, const std::string &ProxyServer, int32_t ProxyPort,
                   double &ModifiedTime, int64_t &Size, SizeRequestAbort *abort, Failure *failure,
                   const std::string &ProxyAuthorization, std::chrono::milliseconds bound,
                   Validators *validators) {
    Size = -1;
    ModifiedTime = 0;
    if (validators)
        *validators = Validators{};
    Failure why;
    if (abort && abort->aborted_)
        return false;
    std::unique_ptr<net::TNMHTTP> made;
    // Set when the bound passed: the exchange was ended then, however it went on.
    bool overdue = false;
    try {
        made = std::make_unique<net::TNMHTTP>();
        net::TNMHTTP &client = *made;
        // The time-outs end waits in which nothing moves; a server that sends a byte now and
        // then would hold the request for ever. The timer fires while this thread's messages
        // are processed (every wait of the exchange does so), and the client stays given up,
        // so that no request begins after it.
        platform::TThreadTimer deadline;
        deadline.SetInterval(static_cast<uint32_t>(std::max<int64_t>(bound.count(), 1)));
        deadline.SetOnTimer([&](platform::TObject *) {
            deadline.SetEnabled(false);
            overdue = true;
            client.Abandoned = true;
            client.AbortOperation();
        });
        struct InFlight {
            SizeRequestAbort *abort;
            InFlight(SizeRequestAbort *a, net::TNMHTTP *c) : abort(a) {
                if (abort)
                    abort->client_ = c;
            }
            ~InFlight() {
                if (abort)
                    abort->client_ = nullptr;
            }
        } inFlight(abort, &client);
        Configure(client, ProxyServer, ProxyPort);
        client.ProxyAuthorization = ProxyAuthorization;
        client.InputFileMode = false;
        client.TimeOut = kSizeRequestTimeOut;
        client.Head(Url);
        // Only a successful answer tells the size: an error page has a length too.
        Size = SizeOfHeadAnswer(client);
        // Servers that refuse HEAD (signed cloud URLs among them) or answer it without a
        // length still tell the size of a one-byte range; "not found" and "gone" are final.
        const int status = client.ReplyNumber;
        const bool proxyAsks = status == 407 && !ProxyServer.empty();
        if (Size < 0 && status != 404 && status != 410 && !proxyAsks &&
            (Successful(status) || status >= 400)) {
            client.ReadBody = false;
            client.Range = net::ByteRange{0, 0};
            client.Get(client.CurrentURL);
            Size = SizeOfRangeAnswer(client);
        }
        const net::ResponseHead &head = client.Response;
        const std::string codings = ContentCodings(head);
        if (proxyAsks)
            why = Failure{FailureKind::ProxyAuth, 0, StatusText(client), client.ProxyChallenge};
        else if (Size < 0 && !codings.empty())
            why = Failure{
                FailureKind::WrongBody, 0,
                // TRANSLATORS: %1 names the codings ("gzip").
                Fill(Tr("The server sends the file coded (%1): its size is unknown"), {codings})};
        else if (Size < 0)
            why = Failure{
                Successful(status) ? FailureKind::WrongBody : FailureKind::HttpStatus, status,
                Successful(status) ? Tr("The server tells no file size") : StatusText(client)};
        else {
            ModifiedTime = ParseHttpDate(head.lastModified);
            if (validators)
                *validators = Validators{head.etag, head.lastModified};
        }
    } catch (const std::exception &e) {
        Size = -1;
        if (overdue && !(abort && abort->aborted_))
            why = Failure{FailureKind::TimedOut, 0,
                          // TRANSLATORS: %1 is a number of seconds.
                          Fill(Tr("No answer within %1 s"), {WholeSeconds(bound)})};
        else
            why = made ? FailureOf(*made, e) : Failure{FailureKind::Protocol, 0, e.what()};
    }
    if (failure)
        *failure = why;
    return Size >= 0;
}

void eHTTP::AbortOperation() {
    Abandoned = true;
    TNMHTTP::AbortOperation();
}

void eHTTP::Refuse(FailureKind kind, const std::string &text) {
    WrongAnswer = true;
    answerFailure_.kind = kind;
    answerFailure_.status = kind == FailureKind::HttpStatus ? ReplyNumber : 0;
    answerFailure_.text = text;
    AbortOperation();
    throw net::EAbortError(text);
}

void eHTTP::ReadResponseHeader() {
    TNMHTTP::ReadResponseHeader();
    BodyStream = &discard_; // until the answer is known to be the range's
    const int status = ReplyNumber;
    if (status >= 300 && status <= 398)
        return; // a redirect: the request goes on at its target
    const int64_t start = RangeStart == -1 ? 0 : RangeStart;
    const std::string other =
        // TRANSLATORS: %1 is the status of the server's answer ("HTTP 206 Partial Content").
        Fill(Tr("%1 for another range or another version of the file"), {StatusText(*this)});
    if (status >= 200 && status <= 299) {
        // A coded body is not the file's bytes, whatever range it names.
        const std::string coding = BodyCoding(Response);
        if (!coding.empty())
            Refuse(FailureKind::WrongBody,
                   // TRANSLATORS: %1 is the status of the server's answer ("HTTP 200 OK"), %2
                   // names the codings ("Content-Encoding: gzip").
                   Fill(Tr("%1 with the bytes coded (%2)"), {StatusText(*this), coding}));
    }
    if (status == 206) {
        // Only the Content-Range says which bytes the body holds: from the first byte asked,
        // to the last or before it (a server may send less than was asked), as many as the
        // Content-Length says. A complete length that is not the file's ("*" gives none)
        // belongs to another version of the file, whose bytes would make a wrong file of the
        // right size.
        if (Response.Value("Content-Range").empty())
            Refuse(FailureKind::WrongBody,
                   // TRANSLATORS: %1 is the status of the server's answer ("HTTP 206 Partial
                   // Content"); Content-Range is the name of a header line.
                   Fill(Tr("%1 without a Content-Range"), {StatusText(*this)}));
        const std::optional<net::ContentRange> &range = Response.contentRange;
        if (!range || range->first != start || range->last > start + ExpectedLength - 1 ||
            (ContentLength >= 0 && ContentLength != range->last - range->first + 1) ||
            (range->complete >= 0 && CompleteLength >= 0 && range->complete != CompleteLength))
            Refuse(FailureKind::WrongBody, other);
        ExpectedLength = range->last - range->first + 1;
        BodyStream = Target;
        return;
    }
    if (status == 200) {
        // A plain answer is the whole file: right as it is when the range asked was all of it.
        const bool whole =
            CompleteLength < 0 || ContentLength < 0 || ContentLength == CompleteLength;
        const bool rangeWasAll =
            start == 0 && (CompleteLength < 0
                               ? ContentLength < 0 || ContentLength == ExpectedLength
                               : ExpectedLength == CompleteLength);
        if (whole && rangeWasAll) {
            BodyStream = Target;
            return;
        }
        // The server ignores ranges: the whole file, when the owner takes it so.
        if (whole && CompleteLength > 0 && OnWholeFile && OnWholeFile()) {
            RangeStart = 0;
            RangeEnd = CompleteLength - 1;
            ExpectedLength = CompleteLength;
            BodyStream = Target;
            return;
        }
        Refuse(FailureKind::WrongBody, whole ? Tr("The whole file instead of the range") : other);
    }
    if (status >= 200 && status <= 299)
        Refuse(FailureKind::WrongBody, other);
    // The proxy's refusal is read to its end: a handshake with the proxy may go on on this
    // connection. DownloadRange reports it when it stands.
    if (status == 407 && !Proxy.empty())
        return;
    Refuse(FailureKind::HttpStatus, StatusText(*this));
}

void eHTTP::Report(TObject *Sender, int64_t bytes, const std::string &text, int32_t level) {
    if (OnReport)
        OnReport(Sender, bytes, text, level);
}

void eHTTP::InstallHandlers() {
    ReportedBytes = 0;
    OnConnect = [this](TObject *s) {
        Report(s, NoByteChange,
               // TRANSLATORS: %1 is the file's name, %2 the server.
               Fill(Tr("Downloading %1 from %2."), {DisplayFileName, platform::UrlHost(Host)}), 1);
    };
    OnAboutToSend = [this](TObject *s) { Report(s, NoByteChange, "Trying to connect...", 3); };
    OnHostResolved = [this](TObject *s) {
        Report(s, NoByteChange,
               "Host Resolved: " + RemoteAddressText() + " is " + platform::UrlHost(Host), 3);
    };
    OnInvalidHost = [this](bool &handled) {
        handled = false; // give up on the host: the socket layer raises its error
        Report(nullptr, NoByteChange, "Invalid Host.", 3);
    };
    OnConnectionFailed = [this](TObject *s) { Report(s, NoByteChange, "Connection Failed", 3); };
    OnStatus = [this](TObject *s, const std::string &status) {
        Report(s, NoByteChange, "Status: " + status, 3);
    };
    OnPacketSent = [this](TObject *s) {
        Report(s, NoByteChange,
               "Packet Sent: \"" + Body + "\" (" + std::to_string(ReceiveProgress) + " of " +
                   std::to_string(TransferSize) + " bytes)",
               3);
    };
    OnPacketRecvd = [this](TObject *s) {
        int64_t bytes = ReceiveProgress - ReportedBytes;
        ReportedBytes = ReceiveProgress;
        bodyWritten_ = bodyWritten_ || (Target && Target->Written() > 0);
        Report(s, bytes, "", 0);
        // A body longer than the range is not the range's: it ends at once (one that never
        // ended would keep the attempt waiting for the server to close). The body of a
        // redirect or of a proxy's refusal is no range's.
        if (BodyStream == Target && ExpectedLength >= 0 && ReceiveProgress > ExpectedLength &&
            !WrongAnswer) {
            WrongAnswer = true;
            answerFailure_ = Failure{
                FailureKind::WrongBody, 0,
                // TRANSLATORS: %1 is a number of bytes.
                Fill(Tr("More than the %1 bytes asked for"), {std::to_string(ExpectedLength)})};
            AbortOperation();
        } else if (Target && Target->Full()) {
            AbortOperation(); // the segment ends sooner now: nothing more is needed
        }
    };
    OnRedirect = [this](bool &handled) {
        handled = false; // follow it
        Report(nullptr, NoByteChange, "Redirect", 3);
    };
    OnSuccess = [this](net::CmdType) { Report(this, NoByteChange, "Success", 3); };
    OnFailure = [this](net::CmdType) { Report(this, NoByteChange, "Failure", 3); };
    OnDisconnect = [this](TObject *s) {
        Report(s, NoByteChange, "Disconnected: " + platform::UrlHost(Host), 3);
    };
}

bool eHTTP::DownloadRange(const std::string &Url, const std::string &FileName,
                          const std::string &proxyServer, int32_t proxyPort) {
    Configure(*this, proxyServer, proxyPort);
    InputFileMode = true;
    Header.clear();
    DisplayFileName = FileName;
    WrongAnswer = false;
    bodyWritten_ = false;
    answerFailure_ = Failure{};
    // Nothing read before the answer's header (a proxy's refusal of the tunnel) is the range's.
    BodyStream = &discard_;
    // Every request of the cycle (a redirect's too) asks for the same bytes.
    const RangeRequest asked =
        ComposeRange(RangeStart, RangeEnd, MaximumRequestLength, ExpectedLength);
    Range = asked.range;
    ExpectedLength = asked.expected;
    try {
        Get(Url);
    } catch (const net::EAbortError &) {
        if (WrongAnswer)
            return false; // the answer was wrong, like one of the wrong length
        if (Target && Target->Full())
            return true; // the segment took all it needed
        throw;
    }
    // Bytes that arrived with the header block are counted but raised no packet event:
    // report them now, so that the reports add up to what was received.
    if (ReceiveProgress != ReportedBytes && OnPacketRecvd)
        OnPacketRecvd(this);
    if (WrongAnswer)
        return false;
    if (ReplyNumber == 407 && !Proxy.empty()) {
        answerFailure_ = Failure{FailureKind::ProxyAuth, 0, StatusText(*this), ProxyChallenge};
        return false;
    }
    if (Target && Target->Full())
        return true;
    if (ExpectedLength >= 0 && ReceiveProgress != ExpectedLength) {
        answerFailure_ =
            Failure{FailureKind::ShortBody, 0,
                    // TRANSLATORS: %1 and %2 are numbers of bytes.
                    Fill(Tr("%1 bytes instead of %2"),
                         {std::to_string(ReceiveProgress), std::to_string(ExpectedLength)})};
        return false;
    }
    return true;
}

} // namespace engine
