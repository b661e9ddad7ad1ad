#include "net/NMUUE.h"

#include <gtest/gtest.h>

using namespace net;

namespace {

std::string Encode(UUMethods method, const std::string &bytes) {
    TMemoryStream in, out;
    in.Write(bytes.data(), bytes.size()); // leaves the position at the end
    TNMUUProcessor uu;
    uu.Method = method;
    uu.InputStream = &in;
    uu.OutputStream = &out;
    uu.Encode();
    EXPECT_EQ(out.Position(), 0);
    return out.Bytes();
}

std::string Times(int n, const std::string &s) {
    return n > 0 ? s + Times(n - 1, s) : "";
}

// Fails every write; as input, reports bytes that its reads never deliver.
struct BadStream : TStream {
    void Write(const char *, size_t) override { throw EFileStreamError("disk full"); }
    size_t Read(char *, size_t) override { return 0; }
    int64_t Size() const override { return 10; }
    int64_t Position() const override { return 0; }
    void Seek(int64_t) override {}
};

} // namespace

TEST(NMUUE, ShortInputs) {
    EXPECT_EQ(Encode(uuMime, ""), "");
    EXPECT_EQ(Encode(uuMime, "a"), "YQ==\r\n");
    EXPECT_EQ(Encode(uuMime, "ab"), "YWI=\r\n");
    EXPECT_EQ(Encode(uuMime, "abc"), "YWJj\r\n");
    EXPECT_EQ(Encode(uuMime, "\xff\xfe\xfd"), "//79\r\n");
    EXPECT_EQ(Encode(uuCode, ""), "`\r\n");
    EXPECT_EQ(Encode(uuCode, "a"), "!80\r\n`\r\n");
    EXPECT_EQ(Encode(uuCode, "ab"), "\"86(\r\n`\r\n");
    EXPECT_EQ(Encode(uuCode, std::string("abc\0\0\0", 6)), "&86)C````\r\n`\r\n");
}

TEST(NMUUE, LinesHoldFortyFiveBytes) {
    EXPECT_EQ(Encode(uuMime, std::string(45, 'a')), Times(15, "YWFh") + "\r\n");
    EXPECT_EQ(Encode(uuMime, std::string(46, 'a')), Times(15, "YWFh") + "\r\nYQ==\r\n");
    // Appended, not `"M" + temporary`: that form trips a false -Wrestrict of gcc 12 (mingw-w64).
    const std::string fullLine = std::string("M").append(Times(15, "86%A"));
    EXPECT_EQ(Encode(uuCode, std::string(45, 'a')), fullLine + "\r\n`\r\n");
    EXPECT_EQ(Encode(uuCode, std::string(46, 'a')), fullLine + "\r\n!80\r\n`\r\n");
}

TEST(NMUUE, Base64LineOfCredentials) {
    EXPECT_EQ(Base64Line("user:pass"), "dXNlcjpwYXNz");
    EXPECT_EQ(Base64Line("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(Base64Line(std::string(50, 'a')), Times(16, "YWFh") + "YWE="); // two lines joined
}

TEST(NMUUE, EventsAndRewindAlsoOnStreamFaults) {
    TMemoryStream in, out;
    in.Write("abc", 3);
    BadStream bad;
    TNMUUProcessor uu;
    std::string log;
    uu.OnBeginEncode = [&](platform::TObject *s) { log += s == &uu ? "begin " : "? "; };
    uu.OnEndEncode = [&](platform::TObject *) { log += "end@" + std::to_string(out.Position()); };
    uu.InputStream = &in;
    uu.OutputStream = &out;
    uu.Encode();
    EXPECT_EQ(log, "begin end@0");

    uu.OutputStream = &bad;
    EXPECT_THROW(uu.Encode(), EFileStreamError);
    EXPECT_EQ(in.Position(), 3);
    uu.InputStream = &bad; // stops instead of looping for ever
    uu.OutputStream = &out;
    uu.Encode();
    EXPECT_EQ(out.Bytes(), "YWJj\r\n");
    EXPECT_EQ(log, "begin end@0begin end@0begin end@0");

    uu.OutputStream = nullptr;
    EXPECT_THROW(uu.Encode(), std::invalid_argument);
}
