// The file digest through the system's library, on every system: the standard's test vectors,
// files across the reading blocks' boundaries, cancelling, and files that cannot be read.
#include "platform/Sha256.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Digest(const std::string &data) {
    platform::TSha256 digest;
    EXPECT_TRUE(digest.Ready()) << digest.Error();
    digest.Update(data.data(), data.size());
    return digest.Finish();
}

class FileSha256Test : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() / ("sha256-test-" + std::to_string(now));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Write(const std::string &name, const std::string &content) {
        const fs::path path = dir_ / name;
        testsupport::WriteFile(path, content);
        return path.string();
    }
    fs::path dir_;
};

TEST(Sha256, TheStandardsTestVectorsInOnePieceAndInParts) {
    EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Digest(two), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // The parts' boundaries fall inside the 64-byte blocks of the digest.
    platform::TSha256 parts;
    for (size_t at = 0; at < two.size(); at += 7)
        parts.Update(two.data() + at, std::min<size_t>(7, two.size() - at));
    EXPECT_EQ(parts.Finish(), Digest(two));
}

TEST_F(FileSha256Test, FilesAroundTheReadingBlocksGiveTheDigestOfTheirBytes) {
    std::string error;
    // One million "a": the standard's long vector, within the first block.
    EXPECT_EQ(platform::FileSha256(Write("a", std::string(1000000, 'a')), error),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
        << error;
    EXPECT_EQ(platform::FileSha256(Write("empty", ""), error),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")
        << error;
    // Exactly one block, one byte either side of it, and beyond the first check of keepGoing.
    const size_t block = 1 << 20;
    for (size_t size : {block - 1, block, block + 1, 17 * block + 3}) {
        const std::string data = testsupport::RandomBytes(size, static_cast<unsigned>(size));
        int asked = 0;
        EXPECT_EQ(platform::FileSha256(Write("f", data), error,
                                       [&asked] {
                                           ++asked;
                                           return true;
                                       }),
                  Digest(data))
            << size << ": " << error;
        EXPECT_EQ(asked, size > 16 * block ? 2 : 1) << size;
    }
}

TEST_F(FileSha256Test, ACancelOrAFileThatCannotBeReadGivesNoDigestAndSaysWhy) {
    const std::string path = Write("f", testsupport::RandomBytes(40 << 20, 1));
    std::string error;
    int asked = 0;
    EXPECT_EQ(platform::FileSha256(path, error, [&asked] { return ++asked < 2; }), "");
    EXPECT_EQ(error, "cancelled");
    EXPECT_EQ(asked, 2);

    error.clear();
    const std::string missing = (dir_ / "missing").string();
    EXPECT_EQ(platform::FileSha256(missing, error), "");
    EXPECT_NE(error.find(missing), std::string::npos) << error;

    // A folder opens as a file on some systems, but gives no bytes to read.
    error.clear();
    EXPECT_EQ(platform::FileSha256(dir_.string(), error), "");
    EXPECT_NE(error.find(dir_.string()), std::string::npos) << error;
}

} // namespace
