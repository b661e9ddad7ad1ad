// Which answers carry the file's bytes as they are: the codings of a response head.
#include "engine/BodyCoding.h"

#include <gtest/gtest.h>

namespace {

net::ResponseHead Block(const std::string &lines) {
    return net::ParseResponseHead("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-9/10\r\n" +
                                  lines + "\r\n")
        .head;
}

TEST(BodyCoding, OnlyIdentityOrNoCodingLeavesTheBytesAsTheyAre) {
    struct Row {
        const char *lines;
        const char *content; // ContentCodings
        const char *body;    // BodyCoding
    } rows[] = {
        {"", "", ""},
        {"Content-Encoding: identity\r\n", "", ""},
        {"content-encoding:  IDENTITY \t\r\n", "", ""},
        {"Content-Encoding:\r\n", "", ""},
        {"Content-Encoding: gzip\r\n", "gzip", "Content-Encoding: gzip"},
        {"Content-Encoding: x-gzip\r\n", "x-gzip", "Content-Encoding: x-gzip"},
        {"Content-Encoding: identity, br ,gzip\r\n", "br, gzip", "Content-Encoding: br, gzip"},
        // A second line adds to the list, as a comma would.
        {"Content-Encoding: identity\r\nContent-Encoding: deflate\r\n", "deflate",
         "Content-Encoding: deflate"},
        {"Transfer-Encoding: chunked\r\n", "", "Transfer-Encoding: chunked"},
        {"Transfer-Encoding: identity\r\n", "", "Transfer-Encoding: identity"},
        {"Transfer-Encoding:\r\n", "", "Transfer-Encoding"},
        {"Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", "gzip",
         "Content-Encoding: gzip"},
        // Names that only begin like the fields are other fields.
        {"Content-Encodings: gzip\r\nX-Transfer-Encoding: chunked\r\n", "", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lines);
        EXPECT_EQ(engine::ContentCodings(Block(row.lines)), row.content);
        EXPECT_EQ(engine::BodyCoding(Block(row.lines)), row.body);
    }
}

TEST(HeaderValues, EveryLineOfTheNameInItsOrder) {
    const net::ResponseHead block =
        net::ParseResponseHead("HTTP/1.1 200 OK\r\nVary: a\r\nvary:\t b \r\nX-Vary: c\r\nVARY:\r\n\r\n")
            .head;
    EXPECT_EQ(block.Values("Vary"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(block.Value("vary"), "a");
    EXPECT_TRUE(block.Values("Age").empty());
}

} // namespace
