#pragma once

#include "engine/Failure.h"
#include "engine/SegmentStream.h"
#include "net/NMHttp.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace engine {

using platform::TObject;

// A report of the engine to its owner: a byte change to add to the received total (negative
// to withdraw bytes of a failed attempt; NoByteChange for none), a status text (empty for a
// pure byte report) and its detail level.
using ReportEvent =
    std::function<void(TObject *Sender, int64_t Bytes, const std::string &Text, int32_t Level)>;
inline constexpr int64_t NoByteChange = INT64_MIN;

// The user agent of every request.
extern const char *const UserAgent;

// The range of a request for bytes start..end (-1: no bound; no start: from the first byte),
// capped at maximum bytes when maximum > 0. `range` is none (first -1) when there is no bound
// at all; `expected` is the number of bytes asked for (then unchanged).
struct RangeRequest {
    net::ByteRange range;
    int64_t expected = 0;
};
RangeRequest ComposeRange(int64_t start, int64_t end, int64_t maximum, int64_t expectedBefore);

// What the server says identifies the file's version: its ETag and Last-Modified, each as
// given (empty: not given).
struct Validators {
    std::string ETag;
    std::string LastModified;
};

// Lets the thread that makes size requests abort the one in flight from inside its own
// message processing (a window that is being closed), and every later one.
class SizeRequestAbort {
  public:
    void Abort();
    bool Aborted() const { return aborted_; }

  private:
    friend bool FetchFileInfo(const std::string &, const std::string &, int32_t, double &,
                              int64_t &, SizeRequestAbort *, Failure *, const std::string &,
                              std::chrono::milliseconds, Validators *);
    bool aborted_ = false;
    net::TNMHTTP *client_ = nullptr;
};

// The longest a size request takes, whatever its server sends meanwhile.
inline constexpr std::chrono::milliseconds kSizeRequestBound{30000};

// Asks Url for the file's size with a HEAD request (30 s per connect phase and of data
// inactivity, and `bound` for the whole exchange). True with Size >= 0 (0: an empty file) for
// a 2xx answer carrying a Content-Length and no content coding. A location that refuses HEAD
// (an error status other than 404 and 410) or answers it without a length is asked once more,
// with a GET of "Range: bytes=0-0" whose Content-Range (or a 200's Content-Length) tells the
// size; its body is not read. False otherwise, Size then -1, and `failure` (when given) says
// why ("HTTP 403 Forbidden", "Connection refused"; TimedOut when the bound passed; WrongBody
// for a coded answer, whose lengths are not the file's; ProxyAuth, with the proxy's
// challenge, when the proxy asks for credentials: then nothing more is asked).
// ProxyAuthorization is sent to the proxy only. ModifiedTime is the Last-Modified date as a
// date-time value, 0 when unknown; `validators` (when given) get the answer's ETag and
// Last-Modified when it told the size. Blocks the caller until the exchange ends, the bound
// passes or `abort` is used; never throws.
bool FetchFileInfo(const std::string &Url, const std::string &ProxyServer, int32_t ProxyPort,
                   double &ModifiedTime, int64_t &Size, SizeRequestAbort *abort = nullptr,
                   Failure *failure = nullptr, const std::string &ProxyAuthorization = {},
                   std::chrono::milliseconds bound = kSizeRequestBound,
                   Validators *validators = nullptr);

// The HTTP client with byte-range bounds, a report callback and a handler for each of its
// events. One object serves one DownloadRange call.
class eHTTP : public net::TNMHTTP {
  public:
    int64_t RangeStart = -1;
    int64_t RangeEnd = -1;
    int64_t MaximumRequestLength = 0;
    int64_t ReportedBytes = 0;
    std::string DisplayFileName;
    int64_t ExpectedLength = 0;
    // The size of the whole file, when known (-1: not known). A partial answer whose
    // Content-Range gives another complete length is a range of another file.
    int64_t CompleteLength = -1;
    ReportEvent OnReport;
    // Where the body of a right answer goes (the worker's segment of the file).
    SegmentStream *Target = nullptr;
    // Asked when the server answers the range request with 200 and the whole file (a server
    // that ignores ranges): true takes that answer as the whole file, the range becoming all
    // of it and the target restarted at offset 0; false ends the request at once
    // (DownloadRange then returns false).
    std::function<bool()> OnWholeFile;

    // Assigns the handlers that turn the client's events into reports.
    void InstallHandlers();
    // Fetches the range into Target. The answer's header is checked before any byte is
    // written: a partial answer whose Content-Range names exactly the range asked (or a first
    // part of it) of a file of CompleteLength bytes, or a plain answer of the whole file where
    // the whole file was asked; neither with a content coding other than identity or any
    // transfer coding. True when every byte asked for arrived, or when Target took all it
    // wanted (a takeover ended the segment sooner); false with AnswerFailure saying what was
    // wrong (an error status, another range, a coded body, a short body, a body longer than the
    // range). Client errors (connection, time-out, abort, a file that cannot be written)
    // propagate.
    bool DownloadRange(const std::string &Url, const std::string &FileName,
                       const std::string &proxyServer, int32_t proxyPort);
    // After DownloadRange returned false: what was wrong with the answer.
    const Failure &AnswerFailure() const { return answerFailure_; }
    // Whether the bytes this answer wrote are right: false for an answer that turned out wrong
    // only after its body began (it went on past the range).
    bool BodyTrusted() const { return !WrongAnswer || !bodyWritten_; }

    // The attempt is over once this is called: every wait ends at once, also one that would
    // begin later (a pause or stop that arrives before the connection is made). Safe from any
    // thread.
    void AbortOperation() override;
    // Checks the answer before its body is read (see DownloadRange).
    void ReadResponseHeader() override;

  private:
    bool WrongAnswer = false; // the request was ended because the answer cannot be right
    bool bodyWritten_ = false;
    Failure answerFailure_;
    net::TNullStream discard_; // the body of a redirect
    void Report(TObject *Sender, int64_t bytes, const std::string &text, int32_t level);
    // Ends the request at once: the answer is wrong for `kind` and `text`.
    [[noreturn]] void Refuse(FailureKind kind, const std::string &text);
};

} // namespace engine
