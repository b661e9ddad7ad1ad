#include "app/OutputFile.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;

struct JoinPiecesTest : ::testing::Test {
    fs::path dir =
        fs::path(::testing::TempDir()) /
        ("join_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(::getpid()));
    std::vector<std::string> pieces;
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        MakePieces();
    }
    void MakePieces() {
        pieces.clear();
        for (const char *text : {"first ", "second ", "third"}) {
            pieces.push_back((dir / ("tlv" + std::to_string(pieces.size()) + ".tmp")).string());
            std::ofstream(pieces.back()) << text;
        }
    }
    void TearDown() override { fs::remove_all(dir); }
    bool PiecesLeft() const {
        for (const auto &p : pieces)
            if (fs::exists(p))
                return true;
        return false;
    }
};

TEST_F(JoinPiecesTest, PiecesInOrderIntoTheFileThenGone) {
    std::ofstream(dir / "out" / "setup.exe") << "an older and longer file of the same name";
    EXPECT_EQ(JoinPieces((dir / "out" / "setup.exe").string(), pieces), "");
    EXPECT_EQ(ReadFile(dir / "out" / "setup.exe"), "first second third");
    EXPECT_FALSE(PiecesLeft());
}

TEST_F(JoinPiecesTest, NothingIsWrittenThroughWhatIsPlantedUnderTheOutputName) {
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "keep me";
    const fs::path out = dir / "out";
    fs::create_symlink(victim, out / "link.exe");
    fs::create_symlink(dir / "created-elsewhere", out / "dangling.exe");
    ASSERT_EQ(::mkfifo((out / "fifo.exe").c_str(), 0600), 0);
    fs::create_directory(out / "folder.exe");
    for (const char *name : {"link.exe", "dangling.exe", "fifo.exe", "folder.exe"}) {
        SCOPED_TRACE(name);
        MakePieces();
        const std::string error = JoinPieces((out / name).string(), pieces);
        EXPECT_NE(error.find("Cannot create file \"" + (out / name).string() + "\""),
                  std::string::npos)
            << error;
        EXPECT_FALSE(PiecesLeft());
        EXPECT_TRUE(fs::exists(fs::symlink_status(out / name))) << "what was there stays";
    }
    EXPECT_EQ(ReadFile(victim), "keep me");
    EXPECT_FALSE(fs::exists(dir / "created-elsewhere"));
}

} // namespace
