// A working file kept from an earlier run is opened again and written on, and while one object
// has it open no other can: the next run must never write into a download that is still being
// written.
#include "platform/Files.h"
#include "platform/PositionalFile.h"
#include "platform/ProcessInfo.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::FileHeld;
using platform::TPositionalFile;

using HeldFileTest = testsupport::ScratchFolderTest;

// The first run writes part of the download and ends; the next opens the same file, finishes
// it and moves it to its name. Meanwhile every other object is refused, and FileHeld says why.
TEST_F(HeldFileTest, AnOpenFileIsHeldAgainstEveryOtherOpenUntilItIsClosed) {
    TPositionalFile first;
    ASSERT_EQ(first.CreateIn(folder_), 0);
    const std::string working = first.Path();
    int64_t freeBytes = 0;
    ASSERT_EQ(first.Reserve(12, freeBytes), 0);
    ASSERT_EQ(first.WriteAt("kept", 4, 0), 0);
    ASSERT_EQ(first.Sync(), 0);
    EXPECT_TRUE(FileHeld(working));

    TPositionalFile next;
    EXPECT_EQ(next.OpenExisting(working), EBUSY) << "opened while it is written";
    EXPECT_TRUE(next.Path().empty());
    ASSERT_EQ(first.Close(), 0);
    EXPECT_FALSE(FileHeld(working));

    ASSERT_EQ(next.OpenExisting(working), 0);
    EXPECT_EQ(next.Path(), working);
    EXPECT_TRUE(FileHeld(working));
    EXPECT_EQ(next.OpenExisting(working), EBUSY) << "an object holds one file";
    TPositionalFile other;
    EXPECT_EQ(other.OpenExisting(working), EBUSY);
    EXPECT_EQ(next.Size(), 12);
    ASSERT_EQ(next.WriteAt(" and new", 8, 4), 0);
    ASSERT_EQ(next.Sync(), 0);

    // Held for reading, it is still held.
    ASSERT_EQ(next.HoldForReading(), 0);
    EXPECT_TRUE(FileHeld(working));
    EXPECT_EQ(other.OpenExisting(working), EBUSY);
    const std::string done = folder_ + "download.bin";
    ASSERT_EQ(next.MoveTo(done, false), 0);
    EXPECT_TRUE(FileHeld(done));
    ASSERT_EQ(next.Close(), 0);
    EXPECT_FALSE(FileHeld(done));
    EXPECT_EQ(testsupport::ReadFile(done), "kept and new");

    EXPECT_FALSE(FileHeld(working)) << "nothing is under the old name";
    EXPECT_EQ(other.OpenExisting(working), ENOENT);
    EXPECT_EQ(other.OpenExisting(folder_), EISDIR);
    EXPECT_TRUE(other.Path().empty());
}

} // namespace
