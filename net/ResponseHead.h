#pragma once

// The head of an HTTP response (its status line and header lines) read into typed fields:
// bytes in, values out, without a connection. Every reader of a response head (the HTTP
// client, the CONNECT tunnel, the download engine) decides by these fields, never by the
// text.

#include "net/ContentRange.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// Why a head cannot be read.
enum class HeadError : uint8_t {
    None,
    Incomplete,   // the bytes end before the empty line that ends the head
    TooLong,      // more bytes than the limit allows
    TooManyLines, // more header lines than the limit allows
    NotHttp,      // the first line does not begin with "HTTP/"
    BadVersion,   // a version other than HTTP/1.x
    BadStatus,    // the status is not three digits (100 to 999) followed by a space or the end
};

// For people, in their language: "The server's answer is not HTTP" and so on.
const char *HeadErrorText(HeadError error);

// How the Content-Length lines of a head went.
enum class LengthState : uint8_t {
    None,        // no Content-Length line
    Given,       // one or more lines, all with the same number
    Conflicting, // numbers that disagree: none of them bounds the body
    Malformed,   // a value that is not a whole number of 64 bits
};

// One header line: its name as sent, its value without the blanks (and stray CRs) around it.
struct HeaderLine {
    std::string name, value;
};

struct ResponseHead {
    int versionMajor = 0, versionMinor = 0;
    int status = 0;
    std::string reason; // as sent, possibly empty
    // Every header line that has a name, in order, repeated names kept, an obsolete folded
    // continuation (a line that begins with a blank) joined to its value with a space. A line
    // that has no valid name before its colon is passed over.
    std::vector<HeaderLine> lines;

    // The Content-Length: -1 unless lengthState is Given.
    int64_t contentLength = -1;
    LengthState lengthState = LengthState::None;
    // The Content-Range, when its lines (all alike) hold a valid one.
    std::optional<ContentRange> contentRange;
    // The first value of each; empty when there is none.
    std::string lastModified, etag, location;
    // The content codings other than identity, of every Content-Encoding line in order, each
    // without its blanks ("gzip", "br").
    std::vector<std::string> contentCodings;
    // Whether there is a Transfer-Encoding line, and the codings its lines name.
    bool transferEncoded = false;
    std::vector<std::string> transferCodings;
    // A Connection line names "close".
    bool connectionClose = false;
    // The Proxy-Authenticate values that are not empty, joined by ", " (ProxyChallenge.h
    // reads them).
    std::string proxyChallenge;

    // The values of the lines named `name` (compared without case), in order.
    std::vector<std::string> Values(std::string_view name) const;
    // The first of them; empty when there is none.
    std::string Value(std::string_view name) const;
    bool Has(std::string_view name) const;
};

// The bounds of a head: the bytes of all its lines with their terminators, and the number of
// its header lines (the empty line and the status line not counted).
struct HeadLimits {
    size_t bytes = 256 * 1024;
    size_t lines = SIZE_MAX;
};

// Reads a head one line at a time, as the lines come from a connection. Each line ends with
// LF (CR LF or LF alone); the empty line ends the head.
class ResponseHeadReader {
  public:
    explicit ResponseHeadReader(HeadLimits limits = {}) : limits_(limits) {}

    enum class Step : uint8_t { More, Done, Failed };
    // Takes the next line; Failed with Error() saying why once a line breaks the head or its
    // limits (no line is taken after Done or Failed).
    Step Take(std::string_view line);

    HeadError Error() const { return error_; }
    const ResponseHead &Head() const { return head_; }
    ResponseHead &Head() { return head_; }

  private:
    void TakeField(std::string_view line);
    void Finish();

    HeadLimits limits_;
    ResponseHead head_;
    HeadError error_ = HeadError::None;
    size_t bytes_ = 0, lineCount_ = 0;
    bool statusRead_ = false, ended_ = false;
    bool lastTaken_ = false; // the last line became a field (a folded line continues it)
};

// A whole head from the start of `bytes`: the head, the error (None when it was read), and
// the number of bytes its lines took (what follows is the body).
struct ParsedHead {
    ResponseHead head;
    HeadError error = HeadError::None;
    size_t size = 0;
};
ParsedHead ParseResponseHead(std::string_view bytes, HeadLimits limits = {});

// A Content-Length value: digits only, fitting 64 bits; -1 for anything else.
int64_t ContentLengthValue(std::string_view value);

} // namespace net
