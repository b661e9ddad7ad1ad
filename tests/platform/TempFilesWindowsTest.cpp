#include "platform/TempFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs each test with its own scratch folder (a Windows path with backslashes), a forgotten
// directory cache and TMP as it was before: GetTempPathA takes TMP first.
class TempFilesWindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char old[32768];
        const DWORD length = GetEnvironmentVariableA("TMP", old, sizeof old);
        hadTmp_ = length > 0 && length < sizeof old;
        oldTmp_ = hadTmp_ ? std::string(old, length) : "";
        static int counter = 0;
        scratch_ = (fs::temp_directory_path() /
                    ("tempfiles-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(++counter)))
                       .string();
        fs::create_directories(scratch_);
        platform::ForgetTempDirectoryForTesting();
    }
    void TearDown() override {
        SetEnvironmentVariableA("TMP", hadTmp_ ? oldTmp_.c_str() : nullptr);
        platform::ForgetTempDirectoryForTesting();
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }
    void UseTmp(const std::string &value) {
        SetEnvironmentVariableA("TMP", value.c_str());
        platform::ForgetTempDirectoryForTesting();
    }

    std::string scratch_;
    bool hadTmp_ = false;
    std::string oldTmp_;
};

TEST_F(TempFilesWindowsTest, DirectoryComesFromTmpAndEndsInOneBackslash) {
    ASSERT_EQ(scratch_.find('/'), std::string::npos) << scratch_;
    UseTmp(scratch_);
    EXPECT_EQ(platform::TempDirectory(), scratch_ + "\\");
    UseTmp(scratch_ + "\\");
    EXPECT_EQ(platform::TempDirectory(), scratch_ + "\\") << "no second backslash";
}

// A folder that does not exist, or a plain file: date-time names, distinct, and no file.
TEST_F(TempFilesWindowsTest, UnusableDirectoryGivesUniqueNamesAndNoFile) {
    std::ofstream(scratch_ + "\\plain-file") << "x";
    std::set<std::string> names;
    for (const std::string &tmp : {scratch_ + "\\missing", scratch_ + "\\plain-file"}) {
        UseTmp(tmp);
        std::string process = "-"; // appended: `"-" + temporary` trips a false -Wrestrict
        process += std::to_string(GetCurrentProcessId());
        process += '-';
        for (int i = 0; i < 5; ++i) {
            const std::string name = platform::NewTempFileName();
            EXPECT_NE(name.find(process), std::string::npos) << name;
            EXPECT_EQ(name.find('\\'), std::string::npos) << "no directory: " << name;
            std::error_code error;
            EXPECT_FALSE(fs::exists(name, error)) << name;
            names.insert(name);
        }
    }
    EXPECT_EQ(names.size(), 10u);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_), fs::directory_iterator()), 1)
        << "only the plain file";
}

} // namespace
