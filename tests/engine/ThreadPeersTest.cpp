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
    HttpThread &StartOn(uint16_t port, int64_t start, int64_t end) {
        int index = static_cast<int>(workers.size()) + 1;
        workers.push_back(std::make_unique<HttpThread>(
            start, end, -1, "setup.exe", "http", "127.0.0.1:" + std::to_string(port), "dir", "",
            0, index,
            [this, index](platform::TObject *, int64_t b, const std::string &t, int32_t l) {
                reports.push_back({index, b, t, l});
            },
            [this](platform::TThread *) { ++ended; }, true));
        workers.back()->AttemptWait = 20ms;
        workers.back()->ResumeTransfer();
        return *workers.back();
    }

    const std::string content = PatternBytes(0, 5 * 1000 * 1000 + 3);
    std::filesystem::path root;
};

} // namespace

TEST_F(PeerWorkers, FiveWorkersFromNginxJoinToTheFile) {
    std::string why;
    if (!NginxServer::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    NginxServer nginx(root.string());
    const int64_t size = static_cast<int64_t>(content.size()), part = size / 5 + 1;
    for (int i = 0; i < 5; ++i)
        StartOn(nginx.Port(), i * part, std::min((i + 1) * part, size) - 1);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }));
    std::vector<std::string> all;
    for (auto &w : workers)
        all.insert(all.end(), w->PieceFiles.begin(), w->PieceFiles.end());
    EXPECT_TRUE(Join(all) == content);
    EXPECT_EQ(BytesReported(), size);
    EXPECT_EQ(Count(kRetrying), 0);
    EXPECT_TRUE(nginx.WaitForAccessLog("\"bytes=0-" + std::to_string(part - 1) + "\""));
}

TEST_F(PeerWorkers, AServerAnsweringRangesWithTheWholeFileIsReportedAsFailing) {
    std::string why;
    if (!LighttpdServer::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    // lighttpd answers an HTTP/1.0 range request with 200 and the whole file.
    LighttpdServer lighttpd(root.string());
    HttpThread &w = StartOn(lighttpd.Port(), 1000, 1999);
    ASSERT_TRUE(PumpUntil([&] { return Count(kRetrying) >= 2; }));
    EXPECT_FALSE(w.Finished);
    EXPECT_TRUE(lighttpd.WaitForAccessLog("\"GET /dir/setup.exe HTTP/1.0\" 200"));
}
