#include "net/NMExtstr.h"

#include <gtest/gtest.h>

using net::TExStringList;

static TExStringList Lines(const std::string &text) {
    TExStringList l;
    l.SetText(text);
    return l;
}

TEST(NMExtstr, SetHeaderAppendsReplacesInPlaceAndDeletes) {
    TExStringList l;
    l.SetHeader("Host", "a");
    l.Add("Accept: */*");
    l.SetHeader("Host", "b"); // stays before Accept
    l.SetHeader("Referer", "r");
    EXPECT_EQ(l.Text(), "Host: b\r\nAccept: */*\r\nReferer: r\r\n");
    l.SetHeader("Missing", "");
    l.SetHeader("host", "");
    EXPECT_EQ(l.Text(), "Accept: */*\r\nReferer: r\r\n");
}

TEST(NMExtstr, IndexOfHeaderMatchesNamePartOnly) {
    TExStringList l =
        Lines("GET http://proxy:8080/ HTTP/1.0\r\nno colon\r\nHost: x\r\nHOST: y\r\n");
    EXPECT_EQ(l.IndexOfHeader("host"), 2); // case-insensitive, the first of two
    EXPECT_EQ(l.IndexOfHeader("GET"), -1); // that line's name part is "GET http"
    EXPECT_EQ(l.IndexOfHeader("no colon"), -1);
    EXPECT_EQ(l.IndexOfHeader("Hos"), -1);
    EXPECT_EQ(TExStringList().IndexOfHeader("Host"), -1);
}

TEST(NMExtstr, TextRoundTripAndLineEnds) {
    const std::string request = "GET / HTTP/1.0\r\nHost: h\r\n\r\n";
    EXPECT_EQ(Lines(request).Text(), request);
    EXPECT_EQ(Lines("").Count(), 0);
    EXPECT_EQ(Lines("a\r\n").Count(), 1);
    EXPECT_EQ(Lines("a\r\nb\nc\rd\n\r").Text(), "a\r\nb\r\nc\r\nd\r\n\r\n");
}

TEST(NMExtstr, StringsReadWriteDeleteAndBounds) {
    TExStringList l = Lines("a\nb\nc");
    l.Strings(1, "B");
    l[2] = "C";
    l.Delete(0);
    EXPECT_EQ(l.Text(), "B\r\nC\r\n");
    EXPECT_THROW(l.Strings(2), net::EStringListError);
    EXPECT_THROW(l.Delete(-1), net::EStringListError);
}

TEST(NMExtstr, SortedListFindsEveryHeaderByBisection) {
    // As whole lines "A-B: 1" sorts before "A: 2"; by name part it comes after.
    TExStringList l = Lines("Zeta: z\r\nA-B: 1\r\nA: 2\r\nGET / HTTP/1.0\r\nMid: m\r\n");
    l.SetSorted(true);
    EXPECT_EQ(l.Text(), "GET / HTTP/1.0\r\nA: 2\r\nA-B: 1\r\nMid: m\r\nZeta: z\r\n");
    int i = 1;
    for (const char *name : {"a", "A-B", "mid", "ZETA"})
        EXPECT_EQ(l.IndexOfHeader(name), i++) << name;
    EXPECT_EQ(l.IndexOfHeader("B"), -1);
    l.SetHeader("B", "new");
    l.SetHeader("a", "3");
    EXPECT_EQ(l.Text(), "GET / HTTP/1.0\r\na: 3\r\nA-B: 1\r\nB: new\r\nMid: m\r\nZeta: z\r\n");
}
