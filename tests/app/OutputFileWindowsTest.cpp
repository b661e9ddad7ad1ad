// The join of the pieces through the Windows file API (ReadFile/WriteFile, a move of the
// first piece); the POSIX cases (modes, links, fifos, size limits) are in OutputFileTest.cpp.
#include "app/OutputFile.h"
#include "tests/app/JoinPiecesFixture.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace joinpiecestest;

using testsupport::RandomBytes;
using testsupport::WriteFile;

using JoinPiecesWindowsTest = JoinPiecesTest;

// Sizes around the copy's block size, an empty piece and a piece of one byte; the output
// replaces a longer file of the same name.
TEST_F(JoinPiecesWindowsTest, JoinsInOrderAndRemovesThePieces) {
    const std::vector<std::string> parts = {RandomBytes(3 * 1048576 + 17, 1), "", "x",
                                            RandomBytes(1048576, 2), RandomBytes(65535, 3)};
    auto pieces = MakePieces(parts);
    const fs::path output = dir_ / "out.bin";
    WriteFile(output, RandomBytes(8 * 1048576, 4));

    EXPECT_EQ(JoinPieces(output.string(), pieces), "");

    std::string expected;
    for (const auto &p : parts)
        expected += p;
    EXPECT_TRUE(testsupport::ReadFile(output) == expected) << "the joined bytes differ";
    for (const auto &p : pieces)
        EXPECT_FALSE(fs::exists(p)) << p;
}

TEST_F(JoinPiecesWindowsTest, AStopDuringTheJoinEndsItAtTheNextPartAndLeavesNothing) {
    auto pieces = MakePieces({"head", std::string(40 * 1048576, 'x'), "tail"});
    const fs::path output = dir_ / "out.bin";
    int asked = 0;
    std::string error = JoinPieces(output.string(), pieces, [&] { return ++asked < 3; });

    EXPECT_EQ(asked, 3) << "asked before each part of 16 MiB";
    EXPECT_NE(error.find("Operation canceled"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(output));
    for (const auto &p : pieces)
        EXPECT_FALSE(fs::exists(p)) << p;
}

TEST_F(JoinPiecesWindowsTest, AMissingPieceLeavesNothingBehind) {
    auto pieces = MakePieces({"first", "second", "third"});
    fs::remove(pieces[1]);
    const fs::path output = dir_ / "out.bin";

    std::string error = JoinPieces(output.string(), pieces);

    EXPECT_EQ(error.rfind("Cannot read file \"" + pieces[1] + "\": ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(pieces[0]));
    EXPECT_FALSE(fs::exists(pieces[2]));
}

TEST_F(JoinPiecesWindowsTest, AnOutputThatCannotBeCreatedKeepsNothing) {
    auto pieces = MakePieces({"a", "b"});
    const fs::path output = dir_ / "no-such-folder" / "out.bin";

    std::string error = JoinPieces(output.string(), pieces);

    EXPECT_EQ(error.rfind("Cannot create file \"" + output.string() + "\": ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(pieces[0]));
    EXPECT_FALSE(fs::exists(pieces[1]));
}

// A folder under the output's name is not a plain file: nothing is moved into it or
// written, and it stays.
TEST_F(JoinPiecesWindowsTest, AFolderUnderTheOutputNameIsRefusedAndStays) {
    const fs::path folder = dir_ / "folder.exe";
    fs::create_directory(folder);
    auto pieces = MakePieces({"first ", "second"});

    const std::string error = JoinPieces(folder.string(), pieces);

    EXPECT_EQ(error.rfind("Cannot create file \"" + folder.string() + "\": ", 0), 0u) << error;
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    for (const auto &p : pieces)
        EXPECT_FALSE(fs::exists(p)) << p;
}

} // namespace
