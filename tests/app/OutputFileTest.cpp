#include "app/OutputFile.h"
#include "tests/app/JoinPiecesFixture.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace joinpiecestest;

using testsupport::RandomBytes;
using testsupport::WriteFile;

// Sizes around the copy's block size, an empty piece and a piece of one byte, so that a
// misplaced offset or a short copy shows in the joined bytes.
TEST_F(JoinPiecesTest, JoinsInOrderAndRemovesThePieces) {
    const std::vector<std::string> parts = {RandomBytes(3 * 1048576 + 17, 1), "", "x",
                                            RandomBytes(1048576, 2), RandomBytes(65535, 3)};
    auto pieces = MakePieces(dir_, parts);
    fs::permissions(pieces[0], fs::perms::owner_read | fs::perms::owner_write); // as made
    const fs::path output = dir_ / "out.bin";
    WriteFile(output, RandomBytes(8 * 1048576, 4)); // longer than the result: replaced

    EXPECT_EQ(JoinPieces(output.string(), pieces), "");

    std::string expected;
    for (const auto &p : parts)
        expected += p;
    EXPECT_EQ(testsupport::ReadFile(output), expected);
    for (const auto &p : pieces)
        EXPECT_FALSE(fs::exists(p)) << p;
    // Readable by others as for any new file, although the first piece was owner-only.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(output).permissions()), 0666 & ~mask);
}

// Pieces on another file system than the output (the temporary folder is often tmpfs).
TEST_F(JoinPiecesTest, JoinsAcrossFileSystems) {
    const fs::path shm = "/dev/shm";
    if (!fs::is_directory(shm))
        GTEST_SKIP() << "no /dev/shm";
    const fs::path where = shm / dir_.filename();
    fs::create_directories(where);
    const std::vector<std::string> parts = {RandomBytes(2 * 1048576 + 5, 5), RandomBytes(777, 6)};
    auto pieces = MakePieces(where, parts);
    const fs::path output = dir_ / "out.bin";

    EXPECT_EQ(JoinPieces(output.string(), pieces), "");
    EXPECT_EQ(testsupport::ReadFile(output), parts[0] + parts[1]);
    fs::remove_all(where);
}

// A stop asked for while a large piece is copied ends the join at its next part and removes
// everything, both in the kernel's copy and in the block copy across file systems.
TEST_F(JoinPiecesTest, AStopDuringTheJoinEndsItAtTheNextPartAndLeavesNothing) {
    for (const fs::path &where : {dir_, fs::path("/dev/shm")}) {
        if (!fs::is_directory(where))
            continue;
        SCOPED_TRACE(where);
        const fs::path pieceDir = where / ("stop-" + std::to_string(::getpid()));
        fs::create_directories(pieceDir);
        auto pieces = MakePieces(pieceDir, {"head", std::string(40 * 1048576, 'x'), "tail"});
        const fs::path output = dir_ / "out.bin";
        int asked = 0;
        std::string error = JoinPieces(output.string(), pieces, [&] { return ++asked < 3; });

        EXPECT_EQ(asked, 3) << "asked before each part of 16 MiB";
        EXPECT_NE(error.find("Operation canceled"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(output));
        for (const auto &p : pieces)
            EXPECT_FALSE(fs::exists(p)) << p;
        fs::remove_all(pieceDir);
    }
}

TEST_F(JoinPiecesTest, AMissingPieceLeavesNothingBehind) {
    auto pieces = MakePieces(dir_, {"first", "second", "third"});
    fs::remove(pieces[1]);
    const fs::path output = dir_ / "out.bin";

    std::string error = JoinPieces(output.string(), pieces);

    EXPECT_EQ(error, "Cannot read file \"" + pieces[1] + "\": No such file or directory");
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(pieces[0]));
    EXPECT_FALSE(fs::exists(pieces[2]));
}

TEST_F(JoinPiecesTest, AnOutputThatCannotBeCreatedKeepsNothing) {
    auto pieces = MakePieces(dir_, {"a", "b"});
    const fs::path output = dir_ / "no-such-folder" / "out.bin";

    std::string error = JoinPieces(output.string(), pieces);

    EXPECT_EQ(error, "Cannot create file \"" + output.string() + "\": No such file or directory");
    EXPECT_FALSE(fs::exists(pieces[0]));
    EXPECT_FALSE(fs::exists(pieces[1]));
}

// A write that the system refuses part-way (here the file-size limit, as a full disk would)
// is an error, not a short file reported as joined.
TEST_F(JoinPiecesTest, AWriteRefusedPartWayIsAnErrorAndRemovesTheOutput) {
    auto pieces = MakePieces(dir_, {RandomBytes(300000, 7), RandomBytes(300000, 8)});
    const fs::path output = dir_ / "out.bin";
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 400000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);

    std::string error = JoinPieces(output.string(), pieces);

    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(error, "Cannot write to file \"" + output.string() + "\": File too large");
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(pieces[0]));
    EXPECT_FALSE(fs::exists(pieces[1]));
}

TEST_F(JoinPiecesTest, NothingIsWrittenThroughWhatIsPlantedUnderTheOutputName) {
    const fs::path victim = dir_ / "victim";
    WriteFile(victim, "keep me");
    const fs::path out = dir_ / "out";
    fs::create_directories(out);
    fs::create_symlink(victim, out / "link.exe");
    fs::create_symlink(dir_ / "created-elsewhere", out / "dangling.exe");
    ASSERT_EQ(::mkfifo((out / "fifo.exe").c_str(), 0600), 0);
    fs::create_directory(out / "folder.exe");
    for (const char *name : {"link.exe", "dangling.exe", "fifo.exe", "folder.exe"}) {
        SCOPED_TRACE(name);
        auto pieces = MakePieces(dir_, {"first ", "second ", "third"});
        const std::string error = JoinPieces((out / name).string(), pieces);
        EXPECT_EQ(error,
                  "Cannot create file \"" + (out / name).string() + "\": it is not a plain file");
        for (const auto &p : pieces)
            EXPECT_FALSE(fs::exists(p)) << p;
        EXPECT_TRUE(fs::exists(fs::symlink_status(out / name))) << "what was there stays";
    }
    EXPECT_EQ(testsupport::ReadFile(victim), "keep me");
    EXPECT_FALSE(fs::exists(dir_ / "created-elsewhere"));
}

// A piece replaced by a link is not followed: the join fails instead of copying what the
// link points at into the program.
TEST_F(JoinPiecesTest, APieceReplacedByALinkIsNotFollowed) {
    auto pieces = MakePieces(dir_, {"first ", "second "});
    const fs::path secret = dir_ / "secret";
    WriteFile(secret, "not for the output");
    fs::remove(pieces[1]);
    fs::create_symlink(secret, pieces[1]);
    const fs::path output = dir_ / "out.bin";

    std::string error = JoinPieces(output.string(), pieces);

    EXPECT_NE(error.find("Cannot read file \"" + pieces[1] + "\""), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(testsupport::ReadFile(secret), "not for the output");
}

} // namespace
