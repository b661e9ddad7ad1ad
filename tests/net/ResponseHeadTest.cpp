// The response head reader: status lines, header lines and the typed fields, from bytes.
#include "net/ResponseHead.h"

#include <gtest/gtest.h>

using net::HeadError;
using net::LengthState;
using net::ParseResponseHead;

namespace {

// A head of the status line "HTTP/1.1 200 OK" and `lines`.
net::ParsedHead Ok(const std::string &lines) {
    return ParseResponseHead("HTTP/1.1 200 OK\r\n" + lines + "\r\n");
}

} // namespace

TEST(ResponseHead, StatusLines) {
    struct Row {
        const char *line;
        HeadError error;
        int major, minor, status;
        const char *reason;
    } rows[] = {
        {"HTTP/1.1 200 OK", HeadError::None, 1, 1, 200, "OK"},
        {"HTTP/1.0 404 Not Found", HeadError::None, 1, 0, 404, "Not Found"},
        {"HTTP/1.1 204", HeadError::None, 1, 1, 204, ""}, // no reason
        {"HTTP/1.1 204 ", HeadError::None, 1, 1, 204, ""},
        {"HTTP/1.0  302  Found", HeadError::None, 1, 0, 302, " Found"}, // more spaces
        {"HTTP/1.1 999 Odd", HeadError::None, 1, 1, 999, "Odd"},
        {"HTTP/1.0 OK", HeadError::BadStatus, 1, 0, 0, ""},
        {"HTTP/1.0 99999 Big", HeadError::BadStatus, 1, 0, 0, ""},
        {"HTTP/1.0 20 Short", HeadError::BadStatus, 1, 0, 0, ""},
        {"HTTP/1.0 099 Low", HeadError::BadStatus, 1, 0, 0, ""},
        {"HTTP/1.0 200OK", HeadError::BadStatus, 1, 0, 0, ""},
        {"HTTP/1.0 -200 x", HeadError::BadStatus, 1, 0, 0, ""},
        {"HTTP/2 200", HeadError::BadVersion, 0, 0, 0, ""},
        {"HTTP/2.0 200 OK", HeadError::BadVersion, 0, 0, 0, ""},
        {"HTTP/1.10 200 OK", HeadError::BadVersion, 0, 0, 0, ""},
        {"HTTP/1.1", HeadError::BadVersion, 0, 0, 0, ""},
        {"HTTP/x.y 200 OK", HeadError::BadVersion, 0, 0, 0, ""},
        {"http/1.1 200 OK", HeadError::NotHttp, 0, 0, 0, ""},
        {"ICY 200 OK", HeadError::NotHttp, 0, 0, 0, ""},
        {"", HeadError::NotHttp, 0, 0, 0, ""},
        {" HTTP/1.1 200 OK", HeadError::NotHttp, 0, 0, 0, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        for (const char *end : {"\r\n", "\n"}) {
            const auto parsed = ParseResponseHead(std::string(row.line) + end + "X: 1" + end + end);
            EXPECT_EQ(parsed.error, row.error);
            EXPECT_EQ(parsed.head.status, row.status);
            if (row.error != HeadError::None)
                continue;
            EXPECT_EQ(parsed.head.versionMajor, row.major);
            EXPECT_EQ(parsed.head.versionMinor, row.minor);
            EXPECT_EQ(parsed.head.reason, row.reason);
            EXPECT_EQ(parsed.head.Value("X"), "1");
        }
    }
}

// Every line in order with its name as sent, a folded continuation joined to the line before
// with a space; lines that are no field of their own (blanks before the colon, no colon, no
// name) are passed over, and so is what continues them.
TEST(ResponseHead, HeaderLinesInOrderDuplicatesKept) {
    const auto parsed = Ok("Vary: a\r\nX-Empty:\r\nvary:\t b \r\n continued: x\r\n\tmore\r\n"
                           "Bad Name: y\r\n folded\r\nNo-Colon\r\n: no name\r\nSpace : z\r\n"
                           "Last:v:w\n");
    ASSERT_EQ(parsed.error, HeadError::None);
    std::vector<std::string> lines;
    for (const auto &line : parsed.head.lines)
        lines.push_back(line.name + "=" + line.value);
    EXPECT_EQ(lines, (std::vector<std::string>{"Vary=a", "X-Empty=", "vary=b continued: x more",
                                               "Last=v:w"}));
    EXPECT_EQ(parsed.head.Values("VARY"), (std::vector<std::string>{"a", "b continued: x more"}));
    EXPECT_TRUE(parsed.head.Has("x-empty"));
    EXPECT_FALSE(parsed.head.Has("continued"));
}

TEST(ResponseHead, ContentLengths) {
    struct Row {
        const char *lines;
        LengthState state;
        int64_t length;
    } rows[] = {
        {"", LengthState::None, -1},
        {"Content-Length: 42\r\n", LengthState::Given, 42},
        {"content-length:42\r\n", LengthState::Given, 42},
        {"Content-Length: \t0 \r\n", LengthState::Given, 0},
        {"Content-Length: 5000000000\r\n", LengthState::Given, 5000000000LL},
        {"Content-Length: 9223372036854775807\r\n", LengthState::Given, INT64_MAX},
        {"Content-Length: 7\r\nContent-Length: 7\r\n", LengthState::Given, 7},
        {"Content-Length: 2\r\nContent-Length: 3\r\n", LengthState::Conflicting, -1},
        {"Content-Length: 2\r\nContent-Length: 3\r\nContent-Length: 2\r\n",
         LengthState::Conflicting, -1},
        {"Content-Length: 9223372036854775808\r\n", LengthState::Malformed, -1},
        {"Content-Length: 99999999999999999999\r\n", LengthState::Malformed, -1},
        {"Content-Length: x42y\r\n", LengthState::Malformed, -1},
        {"Content-Length: -1\r\n", LengthState::Malformed, -1},
        {"Content-Length: +5\r\n", LengthState::Malformed, -1},
        {"Content-Length: 5, 5\r\n", LengthState::Malformed, -1},
        {"Content-Length: 4 2\r\n", LengthState::Malformed, -1},
        {"Content-Length:\r\n", LengthState::Malformed, -1},
        // A bad value spoils a good one, before or after it.
        {"Content-Length: x\r\nContent-Length: 5\r\n", LengthState::Malformed, -1},
        {"Content-Length: 5\r\nContent-Length: x\r\n", LengthState::Malformed, -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lines);
        const auto parsed = Ok(row.lines);
        ASSERT_EQ(parsed.error, HeadError::None);
        EXPECT_EQ(parsed.head.lengthState, row.state);
        EXPECT_EQ(parsed.head.contentLength, row.length);
    }
}

TEST(ResponseHead, TypedFields) {
    const auto parsed = Ok("Content-Range: bytes 0-9/100\r\nLast-Modified: Sun, 06 Nov 1994 "
                           "08:49:37 GMT\r\nETag: \"a\"\r\nETag: \"b\"\r\nLocation:  /x \r\n"
                           "Content-Encoding: identity, br ,gzip\r\nContent-Encoding: IDENTITY\r\n"
                           "Transfer-Encoding: chunked\r\nConnection: keep-alive, Close\r\n"
                           "Proxy-Authenticate: NTLM\r\nProxy-Authenticate:\r\n"
                           "Proxy-Authenticate: Basic realm=\"a, b\"\r\n");
    ASSERT_EQ(parsed.error, HeadError::None);
    const net::ResponseHead &h = parsed.head;
    ASSERT_TRUE(h.contentRange);
    EXPECT_EQ(h.contentRange->first, 0);
    EXPECT_EQ(h.contentRange->last, 9);
    EXPECT_EQ(h.contentRange->complete, 100);
    EXPECT_EQ(h.lastModified, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(h.etag, "\"a\"") << "the first";
    EXPECT_EQ(h.location, "/x");
    EXPECT_EQ(h.contentCodings, (std::vector<std::string>{"br", "gzip"}));
    EXPECT_TRUE(h.transferEncoded);
    EXPECT_EQ(h.transferCodings, (std::vector<std::string>{"chunked"}));
    EXPECT_TRUE(h.connectionClose);
    EXPECT_EQ(h.proxyChallenge, "NTLM, Basic realm=\"a, b\"");

    const auto none = Ok("Transfer-Encoding:\r\nConnection: closed\r\n");
    EXPECT_TRUE(none.head.transferEncoded) << "a line without a value still codes the body";
    EXPECT_TRUE(none.head.transferCodings.empty());
    EXPECT_FALSE(none.head.connectionClose);
    EXPECT_FALSE(none.head.contentRange);
    EXPECT_EQ(none.head.etag, "");
}

TEST(ResponseHead, ContentRanges) {
    struct Row {
        const char *lines;
        int64_t first, last, complete; // first -2: none
    } rows[] = {
        {"Content-Range: bytes 5-9/10\r\n", 5, 9, 10},
        {"Content-Range: bytes 5-9/*\r\n", 5, 9, -1},
        {"Content-Range: bytes */10\r\n", -1, -1, 10},
        {"Content-Range: bytes 5-9/10\r\nContent-Range: bytes 5-9/10\r\n", 5, 9, 10},
        {"Content-Range: bytes 0-9/10\r\nContent-Range: bytes 5-9/10\r\n", -2, 0, 0},
        {"Content-Range: bytes 9-5/10\r\n", -2, 0, 0},
        {"Content-Range: bytes 5-10/10\r\n", -2, 0, 0},
        {"Content-Range: bytes */*\r\n", -2, 0, 0},
        {"Content-Range: 5-9/10\r\n", -2, 0, 0},
        {"Content-Range: bytes 0-1/99999999999999999999\r\n", -2, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lines);
        const auto parsed = Ok(row.lines);
        ASSERT_EQ(parsed.error, HeadError::None);
        ASSERT_EQ(parsed.head.contentRange.has_value(), row.first != -2);
        if (row.first == -2)
            continue;
        EXPECT_EQ(parsed.head.contentRange->first, row.first);
        EXPECT_EQ(parsed.head.contentRange->last, row.last);
        EXPECT_EQ(parsed.head.contentRange->complete, row.complete);
    }
}

// The head ends at its empty line; what follows is the body. Limits count the bytes of every
// line with its end, and the header lines.
TEST(ResponseHead, EndsAndLimits) {
    const std::string head = "HTTP/1.0 200 OK\nA: 1\r\n\n";
    auto parsed = ParseResponseHead(head + "body\r\n\r\n");
    EXPECT_EQ(parsed.error, HeadError::None);
    EXPECT_EQ(parsed.size, head.size());

    struct Row {
        std::string bytes;
        net::HeadLimits limits;
        HeadError error;
    } rows[] = {
        {"", {}, HeadError::Incomplete},
        {"HTTP/1.1 200 OK", {}, HeadError::Incomplete},
        {"HTTP/1.1 200 OK\r\nA: 1\r\n", {}, HeadError::Incomplete},
        {"HTTP/1.1 200 OK\r\nA: 1\r\n\r", {}, HeadError::Incomplete},
        {head, {head.size(), 1}, HeadError::None},
        {head, {head.size() - 1, 1}, HeadError::TooLong},
        {head, {head.size(), 0}, HeadError::TooManyLines},
        {"HTTP/1.1 200 OK\r\n" + std::string(300 * 1024, 'x'), {}, HeadError::TooLong},
        {"HTTP/1.1 200 OK\r\nX: " + std::string(300 * 1024, 'x') + "\r\n\r\n", {},
         HeadError::TooLong},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.bytes.substr(0, 40));
        parsed = ParseResponseHead(row.bytes, row.limits);
        EXPECT_EQ(parsed.error, row.error);
        EXPECT_LE(parsed.size, row.bytes.size());
    }

    // Lines fed one by one: nothing is taken after the end or a failure.
    net::ResponseHeadReader reader(net::HeadLimits{1024, 1});
    using Step = net::ResponseHeadReader::Step;
    EXPECT_EQ(reader.Take("HTTP/1.1 407 Proxy Authentication Required\r\n"), Step::More);
    EXPECT_EQ(reader.Take("Proxy-Authenticate: Basic\r\n"), Step::More);
    EXPECT_EQ(reader.Take("Proxy-Authenticate: NTLM\r\n"), Step::Failed);
    EXPECT_EQ(reader.Error(), HeadError::TooManyLines);
    EXPECT_EQ(reader.Take("\r\n"), Step::Failed);
}
