#include "net/NMURL.h"

#include <gtest/gtest.h>

// The decoded text, with "Operation|ErrMsg" appended for every OnError call.
static std::string Decode(const std::string &input) {
    net::TNMURL url;
    url.InputString = input;
    std::string errors;
    url.OnError = [&](platform::TObject *sender, const std::string &op, const std::string &msg) {
        EXPECT_EQ(sender, &url);
        errors += " [" + op + "|" + msg + "]";
    };
    return url.Decode() + errors;
}

TEST(NMURL, DecodesPlusAndHexEscapes) {
    EXPECT_EQ(Decode("a+b%41%2f"), "a bA/");
    EXPECT_EQ(Decode("%2F%7e%25%2B"), "/~%+");
    EXPECT_EQ(Decode("%00%FF"), std::string("\0\xff", 2));
}

TEST(NMURL, MalformedEscapeReportsOnceAndReturnsInput) {
    EXPECT_EQ(Decode("abc%"), "abc% [Error during decode|'' is not a valid integer value]");
    EXPECT_EQ(Decode("x%G1%41"), "x%G1%41 [Error during decode|'G1' is not a valid integer value]");
    EXPECT_EQ(Decode("+%4"), "+%4 [Error during decode|'4' is not a valid integer value]");
    net::TNMURL url; // no handler: still no exception
    url.InputString = "100%";
    EXPECT_EQ(url.Decode(), "100%");
}
