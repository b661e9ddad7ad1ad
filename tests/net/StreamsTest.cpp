#include "net/Streams.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using net::EFileStreamError;
using net::TFileStream;

// A folder of this test, and a file outside the names the streams are given.
struct StreamsTest : ::testing::Test {
    fs::path dir =
        fs::path(::testing::TempDir()) /
        ("streams_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(::getpid()));
    fs::path victim = dir / "victim";
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(victim) << "keep me";
    }
    void TearDown() override { fs::remove_all(dir); }
    void Write(const fs::path &name) {
        TFileStream file(name.string(), TFileStream::Mode::Create);
        file.Write("new bytes", 9);
    }
};

TEST_F(StreamsTest, CreateMakesAnOwnerOnlyFileOrEmptiesThisUsersOwn) {
    const mode_t old = ::umask(0); // whatever the umask allows
    Write(dir / "piece");
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "piece").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(testsupport::ReadFile(dir / "piece"), "new bytes");

    std::ofstream(dir / "existing") << "a much longer old content";
    Write(dir / "existing");
    EXPECT_EQ(testsupport::ReadFile(dir / "existing"), "new bytes") << "emptied first";
}

TEST_F(StreamsTest, CreateNeverWritesThroughWhatIsPlantedUnderTheName) {
    fs::create_symlink(victim, dir / "symlink");
    fs::create_hard_link(victim, dir / "hardlink");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "directory");
    for (const char *name : {"symlink", "hardlink", "fifo", "directory"}) {
        SCOPED_TRACE(name);
        try {
            Write(dir / name);
            ADD_FAILURE() << "written";
        } catch (const EFileStreamError &e) {
            EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + (dir / name).string()),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(testsupport::ReadFile(victim), "keep me");
    }
    // A link to a file that does not exist yet is not followed to create it either.
    fs::create_symlink(dir / "would-be-created", dir / "dangling");
    EXPECT_THROW(Write(dir / "dangling"), EFileStreamError);
    EXPECT_FALSE(fs::exists(dir / "would-be-created"));
}

} // namespace
