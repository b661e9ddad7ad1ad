// The positional file's POSIX cases: permissions under the umask, symbolic links under the
// final name, blocks really reserved, and a move to another file system.
#include "platform/PositionalFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::TPositionalFile;

// Sets the umask for one scope and puts the old one back.
class UmaskScope {
  public:
    explicit UmaskScope(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskScope() { ::umask(old_); }
    UmaskScope(const UmaskScope &) = delete;
    UmaskScope &operator=(const UmaskScope &) = delete;

  private:
    mode_t old_;
};

mode_t ModeOf(const std::string &path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// Runs each test in a scratch folder of its own.
class PositionalFilePosixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "positional-posix-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        folder_ = scratch_ + "/";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }

    std::string scratch_;
    std::string folder_;
};

// The working file is a plain file for its owner only even when the umask would allow all;
// the finished one gets what the umask allows, and the umask itself stays as it was.
TEST_F(PositionalFilePosixTest, WorkingFileIsTheOwnersAndTheFinishedOneFollowsTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{027}, mode_t{002}}) {
        for (const bool open : {true, false}) {
            SCOPED_TRACE(std::string(open ? "open" : "closed") + " file, umask 0" +
                         std::to_string(mask >> 6 & 7) + std::to_string(mask >> 3 & 7) +
                         std::to_string(mask & 7));
            UmaskScope scope(mask);
            TPositionalFile file;
            ASSERT_EQ(file.CreateIn(folder_), 0);
            const mode_t working = ModeOf(file.Path());
            EXPECT_TRUE(S_ISREG(working));
            EXPECT_EQ(working & 07777, 0600u);
            struct stat info {};
            ASSERT_EQ(::stat(file.Path().c_str(), &info), 0);
            EXPECT_EQ(info.st_uid, ::geteuid());
            if (!open) {
                ASSERT_EQ(file.Close(), 0);
            }
            const std::string done = folder_ + (open ? "open.bin" : "closed.bin");
            ASSERT_EQ(file.MoveTo(done, false), 0);
            EXPECT_EQ(ModeOf(done) & 07777, 0666u & ~mask);
            const mode_t now = ::umask(mask);
            EXPECT_EQ(now, mask) << "the umask changed";
            EXPECT_EQ(file.Remove(), 0);
        }
    }
}

// A symbolic link under the final name is a taken name; replacing it replaces the link, and
// what it points to stays untouched. A refused move leaves the working file's mode.
TEST_F(PositionalFilePosixTest, MoveOntoASymbolicLinkReplacesTheLinkNotItsTarget) {
    const std::string target = folder_ + "target.txt";
    const std::string link = folder_ + "link";
    const std::string dangling = folder_ + "dangling";
    testsupport::WriteFile(target, "not to be overwritten");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink((folder_ + "nowhere").c_str(), dangling.c_str()), 0);

    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "open file" : "closed file");
        TPositionalFile file;
        ASSERT_EQ(file.CreateIn(folder_), 0);
        ASSERT_EQ(file.WriteAt("download", 8, 0), 0);
        if (!open) {
            ASSERT_EQ(file.Close(), 0);
        }
        const std::string working = file.Path();
        EXPECT_EQ(file.MoveTo(link, false), EEXIST);
        EXPECT_EQ(file.MoveTo(dangling, false), EEXIST);
        EXPECT_FALSE(fs::exists(folder_ + "nowhere"));
        EXPECT_EQ(ModeOf(working) & 07777, 0600u) << "a refused move keeps the mode";
        EXPECT_EQ(file.Path(), working);

        ASSERT_EQ(file.MoveTo(link, true), 0);
        EXPECT_TRUE(S_ISREG(ModeOf(link))) << "the link itself is replaced";
        EXPECT_EQ(testsupport::ReadFile(link), "download");
        EXPECT_EQ(testsupport::ReadFile(target), "not to be overwritten");
        EXPECT_FALSE(fs::exists(working));
        // The next round needs the link again.
        ASSERT_EQ(::unlink(link.c_str()), 0);
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    }
}

// The reservation takes the blocks on the disk (where the file system can), so that a write
// there cannot find the disk full; a length set alone would leave a hole.
TEST_F(PositionalFilePosixTest, ReserveTakesTheBlocks) {
    const int64_t size = 8 << 20;
    {
        const std::string probe = folder_ + "probe";
        const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const bool supported = ::fallocate(fd, 0, 0, 4096) == 0;
        ::close(fd);
        ::unlink(probe.c_str());
        if (!supported)
            GTEST_SKIP() << "the scratch folder's file system has no fallocate";
    }
    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    int64_t freeBytes = 0;
    ASSERT_EQ(file.Reserve(size, freeBytes), 0);
    struct stat info {};
    ASSERT_EQ(::stat(file.Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_size, size);
    EXPECT_GE(static_cast<int64_t>(info.st_blocks) * 512, size);
    EXPECT_EQ(file.Remove(), 0);
}

// Another file system gives EXDEV, with or without replacing, and the file stays.
TEST_F(PositionalFilePosixTest, MoveToAnotherFileSystemGivesExdev) {
    const std::string other = "/dev/shm";
    struct stat here {
    }, there{};
    if (::stat(scratch_.c_str(), &here) != 0 || ::stat(other.c_str(), &there) != 0 ||
        here.st_dev == there.st_dev || ::access(other.c_str(), W_OK) != 0)
        GTEST_SKIP() << other << " is not a writable folder of another file system";
    const std::string name = other + "/positional-exdev-" + std::to_string(::getpid());
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "open file" : "closed file");
        TPositionalFile file;
        ASSERT_EQ(file.CreateIn(folder_), 0);
        ASSERT_EQ(file.WriteAt("stays", 5, 0), 0);
        if (!open) {
            ASSERT_EQ(file.Close(), 0);
        }
        EXPECT_EQ(file.MoveTo(name, false), EXDEV);
        EXPECT_EQ(file.MoveTo(name, true), EXDEV);
        EXPECT_FALSE(fs::exists(name));
        EXPECT_EQ(testsupport::ReadFile(file.Path()), "stays");
        EXPECT_EQ(ModeOf(file.Path()) & 07777, 0600u);
        EXPECT_EQ(file.Remove(), 0);
    }
}

} // namespace
