#include "engine/HTTP.h"

#include "engine/HttpDate.h"
#include "platform/ProcessInfo.h"

#include <cinttypes>
#include <cstdio>

namespace engine {

const char *const UserAgent =
    "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 2.0.50727; .NET CLR "
    "1.1.4322; .NET CLR 3.0.04506.30; InfoPath.1)";

namespace {

// The time-out of a size request: each connect phase, and data inactivity.
constexpr int32_t kSizeRequestTimeOut = 30000;

void Configure(net::TNMHTTP &client, const std::string &proxy, int32_t proxyPort) {
    client.ReportLevel = 4;
    client.Proxy = proxy;
    client.ProxyPort = proxyPort;
    client.HeaderInfo.LocalMailAddress = UserAgent;
    client.HeaderInfo.LocalProgram = platform::ProgramPath();
    client.OutputFileMode = false;
}

} // namespace

RangeRequest ComposeRange(int64_t s, int64_t e, int64_t m, int64_t expectedBefore) {
    RangeRequest r;
    r.expected = expectedBefore;
    if (s == -1 && e == -1)
        return r;
    std::string startText = s == -1 ? "" : std::to_string(s);
    if (s == -1)
        s = 0;
    if (m > 0 && (e == -1 || e - s + 1 > m))
        e = s + m - 1;
    std::string endText = e == -1 ? "" : std::to_string(e);
    r.expected = e - s + 1;
    if (!startText.empty() || !endText.empty())
        r.header = "Range: bytes=" + startText + "-" + endText;
    return r;
}

void SizeRequestAbort::Abort() {
    aborted_ = true;
    if (client_)
        client_->AbortOperation();
}

bool FetchFileInfo(const std::string &Url, const std::string &ProxyServer, int32_t ProxyPort,
                   double &ModifiedTime, int64_t &Size, SizeRequestAbort *abort) {
    Size = -1;
    ModifiedTime = 0;
    if (abort && abort->aborted_)
        return false;
    try {
        net::TNMHTTP client;
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
        client.InputFileMode = false;
        client.TimeOut = kSizeRequestTimeOut;
        client.Head(Url);
        // Only a successful answer tells the size: an error page has a length too.
        if (client.ReplyNumber < 200 || client.ReplyNumber > 299)
            return false;
        Size = client.TransferSize;
        ModifiedTime = ParseHttpDate(HeaderValue(client.Header, "Last-Modified"));
    } catch (...) {
        Size = -1;
        return false;
    }
    return Size > 0;
}

void eHTTP::Report(TObject *Sender, int64_t bytes, const std::string &text, int32_t level) {
    if (OnReport)
        OnReport(Sender, bytes, text, level);
}

void eHTTP::InstallHandlers() {
    ReportedBytes = 0;
    OnConnect = [this](TObject *s) {
        Report(s, NoByteChange, "Downloading " + DisplayFileName + " from " + Host + ".", 1);
    };
    OnAboutToSend = [this](TObject *s) {
        AddRangeHeader();
        Report(s, NoByteChange, "Trying to connect...", 3);
    };
    OnHostResolved = [this](TObject *s) {
        Report(s, NoByteChange, "Host Resolved: " + RemoteAddressText() + " is " + Host, 3);
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
        Report(s, bytes, "", 0);
        // A body longer than the range can only fail the length test; one that never ends
        // would fill the disk while the attempt waits for the server to close.
        if (ExpectedLength >= 0 && ReceiveProgress > ExpectedLength && !BodyTooLong) {
            BodyTooLong = true;
            AbortOperation();
        }
    };
    OnRedirect = [this](bool &handled) {
        handled = false; // follow it
        Report(nullptr, NoByteChange, "Redirect", 3);
    };
    OnSuccess = [this](net::CmdType) { Report(this, NoByteChange, "Success", 3); };
    OnFailure = [this](net::CmdType) { Report(this, NoByteChange, "Failure", 3); };
    OnDisconnect = [this](TObject *s) { Report(s, NoByteChange, "Disconnected: " + Host, 3); };
}

void eHTTP::AddRangeHeader() {
    RangeRequest r = ComposeRange(RangeStart, RangeEnd, MaximumRequestLength, ExpectedLength);
    ExpectedLength = r.expected;
    if (r.header.empty())
        return;
    // The Range line becomes the last header line, right before the empty line.
    std::string text = SendHeader.Text();
    text.insert(text.size() - 2, r.header + "\r\n");
    SendHeader.SetText(text);
}

bool eHTTP::DownloadRange(const std::string &Url, const std::string &FileName,
                          const std::string &LocalFile, const std::string &proxyServer,
                          int32_t proxyPort) {
    Configure(*this, proxyServer, proxyPort);
    InputFileMode = true;
    Body = LocalFile;
    Header.clear();
    DisplayFileName = FileName;
    BodyTooLong = false;
    try {
        Get(Url);
    } catch (const net::EAbortError &) {
        if (!BodyTooLong)
            throw;
        return false; // the answer was wrong, like one of the wrong length
    }
    // Bytes that arrived with the header block are counted but raised no packet event:
    // report them now, so that the reports add up to what was received.
    if (ReceiveProgress != ReportedBytes && OnPacketRecvd)
        OnPacketRecvd(this);
    return RangeArrived();
}

bool eHTTP::RangeArrived() const {
    if (ExpectedLength == -1)
        return true;
    if (ReceiveProgress != ExpectedLength)
        return false;
    const int64_t start = RangeStart == -1 ? 0 : RangeStart;
    if (ReplyNumber == 206) {
        std::string range = HeaderValue(Header, "Content-Range");
        if (range.empty())
            return true;
        int64_t first = -1, last = -1, complete = -1;
        const int n = std::sscanf(range.c_str(), "bytes %" SCNd64 "-%" SCNd64 "/%" SCNd64, &first,
                                  &last, &complete);
        // A complete length that is not the file's ("*" gives none) belongs to another version
        // of the file, whose bytes would make a wrong file of the right size.
        if (n == 3 && CompleteLength >= 0 && complete != CompleteLength)
            return false;
        return n >= 2 && first == start && last == start + ExpectedLength - 1;
    }
    // A plain answer is the whole file: right only when the range asked for was all of it.
    if (ReplyNumber == 200)
        return start == 0 && (TransferSize == 0 || TransferSize == ExpectedLength);
    return false;
}

} // namespace engine
