#include "platform/TempFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool AllDigits(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Digits, a point and exactly six digits.
bool IsDayNumberName(const std::string &name) {
    std::size_t point = name.find('.');
    return point != std::string::npos && AllDigits(name.substr(0, point)) &&
           name.size() - point - 1 == 6 && AllDigits(name.substr(point + 1));
}

// Runs each test with its own scratch folder, a forgotten directory cache and $TMPDIR as it
// was before.
class TempFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *old = std::getenv("TMPDIR");
        hadTmpdir_ = old != nullptr;
        oldTmpdir_ = old ? old : "";
        std::string pattern = (fs::temp_directory_path() / "tempfiles-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        platform::ForgetTempDirectoryForTesting();
    }
    void TearDown() override {
        if (hadTmpdir_)
            setenv("TMPDIR", oldTmpdir_.c_str(), 1);
        else
            unsetenv("TMPDIR");
        platform::ForgetTempDirectoryForTesting();
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }
    void UseTmpdir(const std::string &value) {
        setenv("TMPDIR", value.c_str(), 1);
        platform::ForgetTempDirectoryForTesting();
    }

    std::string scratch_;
    bool hadTmpdir_ = false;
    std::string oldTmpdir_;
};

TEST_F(TempFilesTest, DirectoryComesFromTmpdirAndEndsInSlash) {
    UseTmpdir(scratch_);
    EXPECT_EQ(platform::TempDirectory(), scratch_ + "/");
    UseTmpdir(scratch_ + "/");
    EXPECT_EQ(platform::TempDirectory(), scratch_ + "/") << "no second slash";
}

TEST_F(TempFilesTest, UnsetOrEmptyTmpdirGivesSystemDefault) {
    unsetenv("TMPDIR");
    platform::ForgetTempDirectoryForTesting();
    EXPECT_EQ(platform::TempDirectory(), "/tmp/");
    UseTmpdir("");
    EXPECT_EQ(platform::TempDirectory(), "/tmp/");
}

// The day number as of now, computed from the epoch's day number (25569 is 1 January 1970).
double DayNumberNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return 25569.0 + static_cast<double>(now + local.tm_gmtoff) / 86400.0;
}

TEST_F(TempFilesTest, PieceFilesAreCreatedExclusivelyForTheOwnerOnly) {
    UseTmpdir(scratch_);
    const mode_t old = umask(0); // whatever the umask would allow
    const std::string a = platform::NewTempFileName();
    const std::string b = platform::NewTempFileName();
    umask(old);
    EXPECT_NE(a, b);
    for (const std::string &name : {a, b}) {
        struct stat st {};
        ASSERT_EQ(lstat(name.c_str(), &st), 0) << name;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << "a plain file, not a link";
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
        EXPECT_EQ(st.st_uid, geteuid());
        EXPECT_EQ(st.st_size, 0);
    }
}

// A date-time name, then the process and a count: five workers asking in the same millisecond
// never share a piece file.
TEST_F(TempFilesTest, UnusableDirectoryGivesUniqueDateTimeNamesAndNoFile) {
    std::ofstream(scratch_ + "/plain-file") << "x";
    std::set<std::string> names;
    for (const std::string &tmpdir : {scratch_ + "/missing", scratch_ + "/plain-file"}) {
        UseTmpdir(tmpdir);
        double before = DayNumberNow();
        std::string full = platform::NewTempFileName();
        for (int i = 0; i < 5; ++i)
            names.insert(platform::NewTempFileName());
        double after = DayNumberNow();
        const std::string process = "-" + std::to_string(getpid()) + "-";
        const size_t dash = full.find(process);
        ASSERT_NE(dash, std::string::npos) << full;
        EXPECT_TRUE(AllDigits(full.substr(dash + process.size()))) << full;
        const std::string name = full.substr(0, dash);
        ASSERT_TRUE(IsDayNumberName(name)) << name;
        double value = std::stod(name);
        EXPECT_GE(value, before - 2.0 / 86400) << name;
        EXPECT_LE(value, after + 2.0 / 86400) << name;
        std::error_code error;
        EXPECT_FALSE(fs::exists(full, error));
        EXPECT_FALSE(fs::exists(tmpdir + "/" + full, error));
    }
    EXPECT_EQ(names.size(), 10u);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_), fs::directory_iterator()), 1)
        << "only the plain file";
}

} // namespace
