// The small record kept beside a working file is replaced whole and read back within a limit,
// and the files of a folder are listed with their times.
#include "platform/Files.h"
#include "platform/ProcessInfo.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using FilesTest = testsupport::ScratchFolderTest;

// A longer record replaces a shorter one and a shorter a longer, whole each time, with nothing
// left beside it; a replacement that cannot be made leaves the old record.
TEST_F(FilesTest, ReplaceFileContentsReplacesTheWholeFileAndLeavesNothingElse) {
    const std::string record = folder_ + "record";
    const std::string longer = testsupport::RandomBytes(300000, 5);
    std::string read;
    ASSERT_EQ(platform::ReplaceFileContents(record, "first"), 0);
    ASSERT_EQ(platform::ReplaceFileContents(record, longer), 0);
    ASSERT_EQ(platform::ReadFileUpTo(record, longer.size(), read), 0);
    EXPECT_TRUE(read == longer) << "read back " << read.size() << " bytes";
    ASSERT_EQ(platform::ReplaceFileContents(record, "short"), 0);
    ASSERT_EQ(platform::ReadFileUpTo(record, 5, read), 0);
    EXPECT_EQ(read, "short");
    EXPECT_EQ(Names(), std::set<std::string>{"record"});

    // Too long for the limit: refused, not cut.
    EXPECT_EQ(platform::ReadFileUpTo(record, 4, read), EFBIG);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(platform::ReadFileUpTo(folder_ + "missing", 100, read), ENOENT);

    // A folder under the name cannot be replaced by a file.
    fs::create_directory(scratch_ / "folder");
    EXPECT_NE(platform::ReplaceFileContents(folder_ + "folder", "bytes"), 0);
    EXPECT_TRUE(fs::is_directory(scratch_ / "folder"));
    EXPECT_EQ(Names(), (std::set<std::string>{"folder", "record"}));
    EXPECT_EQ(testsupport::ReadFile(record), "short");
}

// Files are listed with the times they were given (or now, when just written); folders are
// not listed.
TEST_F(FilesTest, RegularFilesInListsTheFilesWithTheirModificationTimes) {
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    testsupport::WriteFile(scratch_ / "new.bin", "new");
    testsupport::WriteFile(scratch_ / "old.bin", "old");
    ASSERT_TRUE(platform::SetModificationTime(folder_ + "old.bin", 1700000000));
    fs::create_directory(scratch_ / "sub");
    testsupport::WriteFile(scratch_ / "sub" / "inner.bin", "inner");

    std::vector<platform::FolderEntry> files = platform::RegularFilesIn(folder_);
    std::sort(files.begin(), files.end(),
              [](const auto &a, const auto &b) { return a.name < b.name; });
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "new.bin");
    // The file system's clock may round a little differently from time().
    EXPECT_GE(files[0].modified, before - 5);
    EXPECT_LE(files[0].modified, static_cast<int64_t>(std::time(nullptr)) + 5);
    EXPECT_EQ(files[1].name, "old.bin");
    EXPECT_EQ(files[1].modified, 1700000000);

    EXPECT_TRUE(platform::RegularFilesIn(folder_ + "missing" + platform::PathSeparator()).empty());
}

} // namespace
