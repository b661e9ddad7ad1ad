// The positional file's cases that read the same on every system: unique working files from
// several threads, parts written at their offsets in any order, a reservation the disk cannot
// hold, moves onto taken and free names, and removal.
#include "platform/PositionalFile.h"
#include "platform/ProcessInfo.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::TPositionalFile;

constexpr int64_t kGiB = int64_t{1} << 30;

// Lets threads wait until all of them have arrived (std::latch is avoided: its wait, as the
// Windows build's libstdc++ makes it, was seen to miss its wake-up under wine).
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

// The file's first `limit` bytes as ReadAt gives them, in blocks (fewer at its end).
std::string ReadAll(TPositionalFile &file, int64_t limit) {
    std::string content;
    char block[65536];
    while (static_cast<int64_t>(content.size()) < limit) {
        const int64_t left = limit - static_cast<int64_t>(content.size());
        const size_t want =
            left < static_cast<int64_t>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
        int error = 0;
        const int64_t n = file.ReadAt(block, want, static_cast<int64_t>(content.size()), error);
        EXPECT_GE(n, 0) << "error " << error;
        if (n <= 0)
            break;
        content.append(block, static_cast<size_t>(n));
    }
    return content;
}

int WriteText(TPositionalFile &file, const std::string &text, int64_t offset) {
    return file.WriteAt(text.data(), text.size(), offset);
}

using PositionalFileTest = testsupport::ScratchFolderTest;

// Five workers create their files at the same moment, as the download's workers do, and keep
// them open: every one gets a name of its own, none is handed out twice.
TEST_F(PositionalFileTest, FiveThreadsCreateDistinctExclusiveWorkingFiles) {
    constexpr int kThreads = 5;
    constexpr int kFilesEach = 20;
    std::vector<std::vector<std::unique_ptr<TPositionalFile>>> files(kThreads);
    std::vector<std::vector<int>> results(kThreads);
    StartGate start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.ArriveAndWait();
            for (int i = 0; i < kFilesEach; ++i) {
                files[t].push_back(std::make_unique<TPositionalFile>());
                results[t].push_back(files[t].back()->CreateIn(folder_));
            }
        });
    for (auto &thread : threads)
        thread.join();

    std::set<std::string> paths;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kFilesEach; ++i) {
            ASSERT_EQ(results[t][i], 0) << std::strerror(results[t][i]);
            TPositionalFile &file = *files[t][i];
            const fs::path path(file.Path());
            EXPECT_EQ(path.parent_path(), scratch_) << file.Path();
            const std::string name = path.filename().string();
            EXPECT_TRUE(name.size() > 7 && name.compare(0, 3, "tlv") == 0 &&
                        name.compare(name.size() - 4, 4, ".tmp") == 0)
                << name;
            EXPECT_EQ(file.Size(), 0) << name;
            paths.insert(file.Path());
        }
    EXPECT_EQ(paths.size(), static_cast<size_t>(kThreads * kFilesEach));
    EXPECT_EQ(Names().size(), static_cast<size_t>(kThreads * kFilesEach));

    // An object holds one file: a second CreateIn leaves it and makes no other.
    TPositionalFile &first = *files[0][0];
    const std::string kept = first.Path();
    EXPECT_EQ(first.CreateIn(folder_), EBUSY);
    EXPECT_EQ(first.Path(), kept);
    EXPECT_EQ(Names().size(), static_cast<size_t>(kThreads * kFilesEach));
}

// The reserved file has its whole length at once and reads as zeros; five threads then write
// their parts, the last part first and each part from its end backwards, and the file holds
// exactly the download's bytes, no longer than reserved.
TEST_F(PositionalFileTest, FiveThreadsWriteTheirPartsOfAReservedFileInAnyOrder) {
    constexpr int kThreads = 5;
    constexpr size_t kPart = 300000; // not a multiple of any block size
    constexpr size_t kChunk = 16384;
    const std::string expected = testsupport::RandomBytes(kThreads * kPart + 777, 7);
    const int64_t length = static_cast<int64_t>(expected.size());
    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    int64_t freeBytes = 0;
    ASSERT_EQ(file.Reserve(length, freeBytes), 0);
    EXPECT_EQ(freeBytes, -1);
    EXPECT_EQ(file.Size(), length);
    EXPECT_TRUE(ReadAll(file, length) == std::string(expected.size(), '\0'))
        << "the reserved range does not read as zeros";

    std::vector<int> errors(kThreads, 0);
    StartGate start(kThreads);
    std::vector<std::thread> threads;
    for (int t = kThreads - 1; t >= 0; --t)
        threads.emplace_back([&, t] {
            const size_t begin = t * kPart;
            const size_t end = t == kThreads - 1 ? expected.size() : begin + kPart;
            start.ArriveAndWait();
            for (size_t at = end; at > begin && errors[t] == 0;) {
                const size_t from = at - begin > kChunk ? at - kChunk : begin;
                errors[t] =
                    file.WriteAt(expected.data() + from, at - from, static_cast<int64_t>(from));
                at = from;
            }
        });
    for (auto &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(errors[t], 0) << "part " << t << ": " << std::strerror(errors[t]);

    EXPECT_EQ(file.Size(), length);
    EXPECT_TRUE(ReadAll(file, 2 * length) == expected) << "the bytes read back differ";
    // A read across the end is short, one at the end gives 0.
    char tail[100];
    int error = 0;
    EXPECT_EQ(file.ReadAt(tail, sizeof tail, length - 10, error), 10);
    EXPECT_EQ(std::string(tail, 10), expected.substr(expected.size() - 10));
    EXPECT_EQ(file.ReadAt(tail, sizeof tail, length, error), 0);
    EXPECT_EQ(file.ReadAt(tail, sizeof tail, length + 5000, error), 0);

    ASSERT_EQ(file.Close(), 0);
    EXPECT_TRUE(testsupport::ReadFile(file.Path()) == expected) << "the closed file differs";
    EXPECT_EQ(file.Size(), length) << "the length of the closed file, through its name";
}

// A second reservation shrinks or grows the file and keeps what was written below it.
TEST_F(PositionalFileTest, ReserveAgainKeepsTheBytesBelowTheNewLength) {
    const std::string bytes = testsupport::RandomBytes(10000, 3);
    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    ASSERT_EQ(WriteText(file, bytes, 0), 0);
    int64_t freeBytes = 0;
    ASSERT_EQ(file.Reserve(4000, freeBytes), 0);
    EXPECT_EQ(file.Size(), 4000);
    ASSERT_EQ(file.Reserve(20000, freeBytes), 0);
    EXPECT_EQ(file.Size(), 20000);
    EXPECT_TRUE(ReadAll(file, 20000) == bytes.substr(0, 4000) + std::string(16000, '\0'));
    ASSERT_EQ(file.Reserve(0, freeBytes), 0);
    EXPECT_EQ(file.Size(), 0);
}

// Offsets past 4 GiB reach the file as they are (a 32-bit offset would wrap to the start).
// The file system keeps the gap as a hole: nothing is reserved here (ext4, tmpfs, and wine on
// them; NTFS would write the gap as zeros first).
TEST_F(PositionalFileTest, OffsetsBeyondFourGibibytesAreKept) {
    const int64_t far = 5 * kGiB + 3;
    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    ASSERT_EQ(WriteText(file, "start", 0), 0);
    ASSERT_EQ(WriteText(file, "far away", far), 0);
    EXPECT_EQ(file.Size(), far + 8);
    char back[16] = {};
    int error = 0;
    ASSERT_EQ(file.ReadAt(back, sizeof back, far, error), 8) << std::strerror(error);
    EXPECT_EQ(std::string(back, 8), "far away");
    ASSERT_EQ(file.ReadAt(back, 5, 0, error), 5);
    EXPECT_EQ(std::string(back, 5), "start") << "the far write wrapped to the start";
    EXPECT_EQ(file.Remove(), 0);
}

// A reservation the disk cannot hold fails at once with the free space, and the file stays
// as it was: its length, its bytes, and writable, reservable and removable.
TEST_F(PositionalFileTest, ReservationBeyondTheFreeSpaceGivesEnospcAndLeavesTheFileUsable) {
    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    ASSERT_EQ(WriteText(file, "kept bytes", 0), 0);
    const auto before = static_cast<int64_t>(fs::space(scratch_).available);
    const int64_t wanted = before + 1024 * kGiB;
    int64_t freeBytes = 0;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(file.Reserve(wanted, freeBytes), ENOSPC);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
        << "the reservation took the disk's blocks before it failed";
    const auto after = static_cast<int64_t>(fs::space(scratch_).available);
    // Others may write to the same disk meanwhile.
    EXPECT_GE(freeBytes, std::min(before, after) - kGiB);
    EXPECT_LE(freeBytes, std::max(before, after) + kGiB);
    EXPECT_LT(freeBytes, wanted);

    EXPECT_EQ(file.Size(), 10);
    ASSERT_EQ(WriteText(file, " and more", 10), 0);
    ASSERT_EQ(file.Reserve(4096, freeBytes), 0);
    EXPECT_EQ(file.Size(), 4096);
    EXPECT_EQ(ReadAll(file, 19), "kept bytes and more");
    EXPECT_EQ(file.Remove(), 0);
    EXPECT_TRUE(Names().empty());
}

// The same moves for an open file (renamed through its handle on Windows) and a closed one:
// to a free name in another folder, onto a taken name without and with replacing it.
TEST_F(PositionalFileTest, MoveRefusesATakenNameUnlessToldToReplaceIt) {
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "open file" : "closed file");
        const std::string sub = open ? "open" : "closed";
        fs::create_directory(scratch_ / sub);
        TPositionalFile file;
        ASSERT_EQ(file.CreateIn(folder_), 0);
        ASSERT_EQ(WriteText(file, "download", 0), 0);
        if (!open) {
            ASSERT_EQ(file.Close(), 0);
        }
        const std::string working = file.Path();
        // The open file is read through itself: on Windows its handle lets others read it
        // only when they share deleting.
        auto content = [&] {
            return open ? ReadAll(file, 100) : testsupport::ReadFile(file.Path());
        };

        const std::string free = In(sub + platform::PathSeparator() + "free.bin");
        ASSERT_EQ(file.MoveTo(free, false), 0);
        EXPECT_EQ(file.Path(), free);
        EXPECT_FALSE(fs::exists(working));
        EXPECT_TRUE(fs::exists(free));
        EXPECT_EQ(content(), "download");

        const std::string taken = In(sub + ".txt");
        testsupport::WriteFile(taken, "somebody else's");
        EXPECT_EQ(file.MoveTo(taken, false), EEXIST);
        EXPECT_EQ(file.Path(), free);
        EXPECT_TRUE(fs::exists(free));
        EXPECT_EQ(content(), "download");
        EXPECT_EQ(testsupport::ReadFile(taken), "somebody else's");

        ASSERT_EQ(file.MoveTo(taken, true), 0);
        EXPECT_EQ(file.Path(), taken);
        EXPECT_FALSE(fs::exists(free));
        EXPECT_EQ(content(), "download");
        if (open) {
            // Still open and writable, under the new name.
            ASSERT_EQ(WriteText(file, " complete", 8), 0);
            EXPECT_EQ(file.Size(), 17);
            ASSERT_EQ(file.Close(), 0);
        }
        EXPECT_EQ(testsupport::ReadFile(taken), open ? "download complete" : "download");
    }
}

// Removal closes and deletes, whether the file is open or not, and the object may then make
// another file.
TEST_F(PositionalFileTest, RemoveLeavesNothing) {
    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    int64_t freeBytes = 0;
    ASSERT_EQ(file.Reserve(100000, freeBytes), 0);
    ASSERT_EQ(WriteText(file, "part", 50000), 0);
    EXPECT_EQ(file.Remove(), 0);
    EXPECT_TRUE(file.Path().empty());
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(WriteText(file, "late", 0), EBADF);
    EXPECT_EQ(file.Remove(), 0) << "nothing left to remove";

    ASSERT_EQ(file.CreateIn(folder_), 0);
    ASSERT_EQ(file.Close(), 0);
    EXPECT_EQ(file.Remove(), 0);
    EXPECT_TRUE(Names().empty());
}

// Without a file, after it is closed, or with a negative size or offset, each call says why
// it cannot be done.
TEST_F(PositionalFileTest, CallsWithoutAFileOrWithBadArgumentsGiveAnError) {
    TPositionalFile none;
    int64_t freeBytes = 0;
    int error = 0;
    char byte = 0;
    EXPECT_EQ(none.CreateIn(In("missing") + platform::PathSeparator()), ENOENT);
    EXPECT_TRUE(none.Path().empty());
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(none.Reserve(10, freeBytes), EBADF);
    EXPECT_EQ(freeBytes, -1);
    EXPECT_EQ(none.WriteAt("x", 1, 0), EBADF);
    EXPECT_EQ(none.ReadAt(&byte, 1, 0, error), -1);
    EXPECT_EQ(error, EBADF);
    EXPECT_EQ(none.Size(), -1);
    EXPECT_EQ(none.MoveTo(In("name"), true), EBADF);
    EXPECT_EQ(none.Close(), 0);
    EXPECT_EQ(none.Remove(), 0);

    TPositionalFile file;
    ASSERT_EQ(file.CreateIn(folder_), 0);
    EXPECT_EQ(file.Reserve(-1, freeBytes), EINVAL);
    EXPECT_EQ(file.WriteAt("x", 1, -1), EINVAL);
    error = 0;
    EXPECT_EQ(file.ReadAt(&byte, 1, -1, error), -1);
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(file.MoveTo("", true), ENOENT);
    EXPECT_EQ(file.MoveTo(In("missing") + platform::PathSeparator() + "name", false), ENOENT);
    EXPECT_EQ(file.Size(), 0);
    ASSERT_EQ(file.Close(), 0);
    EXPECT_EQ(file.WriteAt("x", 1, 0), EBADF);
    EXPECT_EQ(file.Reserve(10, freeBytes), EBADF);
    EXPECT_EQ(file.Size(), 0);
    EXPECT_EQ(file.Remove(), 0);
}

} // namespace
