// The HTTP client against real peers on loopback: nginx as the origin, tinyproxy in front.
#include "net/NMHttp.h"

#include "HttpFixture.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace httptest;
using testsupport::HttpProxy;
using testsupport::NginxServer;
using testsupport::PatternBytes;
using testsupport::ReadFile;

namespace {

class RealPeers : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!NginxServer::Available(&why))
            GTEST_SKIP() << "real peer missing, test skipped: " << why;
        root = std::filesystem::path(::testing::TempDir()) /
               ("nmhttp_root_" + std::to_string(::getpid()));
        std::filesystem::create_directories(root);
        content = PatternBytes(0, 3 * 1000 * 1000 + 7); // several MB, no round size
        std::ofstream(root / "setup.exe", std::ios::binary) << content;
        nginx = std::make_unique<NginxServer>(root.string());
    }
    void TearDown() override {
        nginx.reset();
        std::filesystem::remove_all(root);
    }
    std::string Url(const std::string &path) const {
        return "http://127.0.0.1:" + std::to_string(nginx->Port()) + path;
    }
    std::filesystem::path root;
    std::string content;
    std::unique_ptr<NginxServer> nginx;
};

} // namespace

TEST_F(RealPeers, HeadGivesTheSizeAndGetTheIdenticalFile) {
    net::TNMHTTP h;
    h.Head(Url("/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_EQ(h.TransferSize, static_cast<int64_t>(content.size()));
    EXPECT_EQ(h.Body, "");

    h.InputFileMode = true;
    h.Body = (root / "received.bin").string();
    h.Get(Url("/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_EQ(h.ReceiveProgress, static_cast<int64_t>(content.size()));
    EXPECT_TRUE(ReadFile(h.Body) == content) << "the body is byte-identical to the file";
}

TEST_F(RealPeers, MissingFileIsAFailureStatus) {
    net::TNMHTTP h;
    bool failed = false;
    h.OnFailure = [&](net::CmdType) { failed = true; };
    h.Get(Url("/nothing.exe"));
    EXPECT_EQ(h.ReplyNumber, 404);
    EXPECT_TRUE(failed);
}

TEST_F(RealPeers, ARangeLineAddedBeforeSendingGetsThatRange) {
    net::TNMHTTP h;
    h.OnAboutToSend = [&](platform::TObject *) {
        std::string text = h.SendHeader.Text();
        text.insert(text.size() - 2, "Range: bytes=1000-1999\r\n");
        h.SendHeader.SetText(text);
    };
    h.Get(Url("/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 206);
    EXPECT_EQ(h.Body, content.substr(1000, 1000));
    EXPECT_NE(h.Header.find("Content-Range: bytes 1000-1999/"), std::string::npos);
}

TEST_F(RealPeers, ThroughARealProxyTheSameFileArrives) {
    std::string why;
    if (!HttpProxy::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    HttpProxy proxy;
    net::TNMHTTP h;
    h.Proxy = "127.0.0.1";
    h.ProxyPort = proxy.Port();
    h.Head(Url("/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_EQ(h.TransferSize, static_cast<int64_t>(content.size()));
    h.InputFileMode = true;
    h.Body = (root / "proxied.bin").string();
    h.Get(Url("/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_TRUE(ReadFile(h.Body) == content);
    EXPECT_TRUE(nginx->WaitForAccessLog("\"GET /setup.exe HTTP/1."));
}
