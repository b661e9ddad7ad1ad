// The temporary files' cases that read the same on every system: the folder is named by the
// system's variable (TMPDIR, or TMP on Windows) and ends in the system's separator.
#include "platform/ProcessInfo.h"
#include "platform/TempFiles.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::kTempDirVariable;

// "tlv" + at least one character + ".tmp".
bool IsPieceFileName(const std::string &name) {
    return name.size() > 7 && name.compare(0, 3, "tlv") == 0 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// Runs each test with its own scratch folder, a forgotten directory cache and the system's
// temporary-folder variable as it was before.
class TempFilesSharedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_ = testsupport::GetEnv(kTempDirVariable);
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        scratch_ = (fs::temp_directory_path() / ("tempfiles-test-" + std::to_string(now)))
                       .string();
        fs::create_directories(scratch_);
        platform::ForgetTempDirectoryForTesting();
    }
    void TearDown() override {
        if (old_)
            testsupport::SetEnv(kTempDirVariable, *old_);
        else
            testsupport::UnsetEnv(kTempDirVariable);
        platform::ForgetTempDirectoryForTesting();
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }
    void UseTempVariable(const std::string &value) {
        testsupport::SetEnv(kTempDirVariable, value);
        platform::ForgetTempDirectoryForTesting();
    }
    // The folder as TempDirectory gives it: with one separator at its end.
    static std::string Folder(const std::string &path) {
        return path + platform::PathSeparator();
    }

    std::string scratch_;
    std::optional<std::string> old_;
};

TEST_F(TempFilesSharedTest, FirstAnswerIsKeptUntilForgotten) {
    UseTempVariable(scratch_);
    EXPECT_EQ(platform::TempDirectory(), Folder(scratch_));
    const std::string elsewhere = (fs::path(scratch_).root_path() / "elsewhere").string();
    testsupport::SetEnv(kTempDirVariable, elsewhere);
    EXPECT_EQ(platform::TempDirectory(), Folder(scratch_));
    EXPECT_EQ(fs::path(platform::NewTempFileName()).parent_path(), fs::path(scratch_));
    platform::ForgetTempDirectoryForTesting();
    EXPECT_EQ(platform::TempDirectory(), Folder(elsewhere));
}

// Lets threads wait until all of them have arrived. std::latch is not used: its wait, as the
// Windows build's libstdc++ (mingw-w64, gcc 12) makes it, now and then missed its wake-up and
// hung the test (seen under wine with the waiting thread inside std::latch::wait).
class StartGate {
  public:
    explicit StartGate(int count) : waiting_(count) {}
    void ArriveAndWait() {
        std::unique_lock lock(mutex_);
        if (--waiting_ == 0)
            open_.notify_all();
        else
            open_.wait(lock, [this] { return waiting_ == 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable open_;
    int waiting_;
};

// Five workers make their first calls at the same moment, as the download's workers do.
TEST_F(TempFilesSharedTest, ConcurrentCallersGetOneDirectoryAndDistinctEmptyFiles) {
    UseTempVariable(scratch_);
    constexpr int kThreads = 5;
    constexpr int kFilesEach = 40;
    std::vector<std::string> directories(kThreads);
    std::vector<std::vector<std::string>> names(kThreads);
    StartGate start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.ArriveAndWait();
            directories[t] = platform::TempDirectory();
            for (int i = 0; i < kFilesEach; ++i)
                names[t].push_back(platform::NewTempFileName());
        });
    for (auto &thread : threads)
        thread.join();

    std::set<std::string> distinct;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(directories[t], Folder(scratch_));
        for (const std::string &name : names[t]) {
            fs::path path(name);
            EXPECT_EQ(path.parent_path(), fs::path(scratch_)) << name;
            EXPECT_TRUE(IsPieceFileName(path.filename().string())) << name;
            std::error_code error;
            EXPECT_TRUE(fs::is_regular_file(path, error)) << name;
            EXPECT_EQ(fs::file_size(path, error), 0u) << name;
            distinct.insert(name);
        }
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kFilesEach));
}

} // namespace
