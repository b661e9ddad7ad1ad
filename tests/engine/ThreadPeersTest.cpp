// Workers against real origin servers on loopback.
#include "engine/Thread.h"

#include "WorkerFixture.h"
#include "tests/support/RealPeers.h"

#include <filesystem>
#include <fstream>

using namespace workertest;
using testsupport::LighttpdServer;
using testsupport::NginxServer;
using testsupport::PatternBytes;

namespace {

// A served directory with one file, and workers that fetch from a real server's port.
class PeerWorkers : public Workers {
  protected:
    void SetUp() override {
        Workers::SetUp();
        root = std::filesystem::path(::testing::TempDir()) /
               ("peer_workers_" + std::to_string(::getpid()));
        std::filesystem::create_directories(root / "dir");
        std::ofstream(root / "dir" / "setup.exe", std::ios::binary) << content;
    }
    void TearDown() override {
        Workers::TearDown();
        std::filesystem::remove_all(root);
    }
    static Location On(uint16_t port) {
        return Location{"127.0.0.1:" + std::to_string(port), "dir/", 0};
    }

    const std::string content = PatternBytes(0, 5 * 1000 * 1000 + 3);
    std::filesystem::path root;
};

} // namespace

TEST_F(PeerWorkers, FiveWorkersFromNginxWriteTheFile) {
    std::string why;
    if (!NginxServer::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    NginxServer nginx(root.string());
    const int64_t size = static_cast<int64_t>(content.size()), part = size / 5 + 1;
    StartAll(size, {On(nginx.Port())}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }));
    EXPECT_TRUE(Written() == content);
    EXPECT_EQ(plan->Received(), size);
    EXPECT_TRUE(failures.empty());
    EXPECT_TRUE(nginx.WaitForAccessLog("\"bytes=0-" + std::to_string(part - 1) + "\""));
}

TEST_F(PeerWorkers, AServerAnsweringRangesWithTheWholeFileGivesItInOneStream) {
    std::string why;
    if (!LighttpdServer::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    // lighttpd answers an HTTP/1.0 range request with 200 and the whole file.
    LighttpdServer lighttpd(root.string());
    const int64_t size = static_cast<int64_t>(content.size());
    StartAll(size, {On(lighttpd.Port())}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }));
    EXPECT_NE(oneStream, 0);
    EXPECT_TRUE(Written() == content);
    EXPECT_TRUE(failures.empty());
    EXPECT_TRUE(lighttpd.WaitForAccessLog("\"GET /dir/setup.exe HTTP/1.0\" 200"));
}
