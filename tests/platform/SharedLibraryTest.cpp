#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<char> ReadImage(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each test with a $TMPDIR of its own, so that a temporary file left behind shows.
class SharedLibraryImage : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "imageXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        if (const char *old = std::getenv("TMPDIR"))
            oldTmpdir_ = old;
        setenv("TMPDIR", folder_.c_str(), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(folder_)) << "a temporary file was left in " << folder_;
        if (oldTmpdir_)
            setenv("TMPDIR", oldTmpdir_->c_str(), 1);
        else
            unsetenv("TMPDIR");
        fs::remove_all(folder_);
    }
    fs::path folder_;
    std::optional<std::string> oldTmpdir_;
};

TEST_F(SharedLibraryImage, ALibraryLoadedFromItsImageRuns) {
    const std::vector<char> image = ReadImage(IMAGE_MODULE);
    ASSERT_GT(image.size(), 1000u);
    std::string error;
    void *library = platform::LoadSharedLibraryImage(image.data(), image.size(), "test-image", error);
    ASSERT_NE(library, nullptr) << error;
    using Answer = int();
    auto *answer = reinterpret_cast<Answer *>(
        platform::SharedLibrarySymbol(library, "image_module_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(platform::SharedLibrarySymbol(library, "no_such_function"), nullptr);
}

TEST_F(SharedLibraryImage, ABrokenImageIsRefusedWithAReasonAndLeavesNothing) {
    // Both ways of loading are tried: the memory file, then a temporary file.
    for (const std::string &bytes : {std::string("not a library at all"), std::string(),
                                    std::string("\x7f" "ELF\x02\x01\x01", 7)}) {
        std::string error;
        EXPECT_EQ(platform::LoadSharedLibraryImage(bytes.data(), bytes.size(), "broken", error),
                  nullptr);
        EXPECT_NE(error.find("broken"), std::string::npos) << error;
    }
}

TEST(SharedLibrary, AMissingLibraryIsNamedInTheError) {
    std::string error;
    EXPECT_EQ(platform::LoadSharedLibrary("libdownload-no-such.so.7", error), nullptr);
    EXPECT_NE(error.find("libdownload-no-such.so.7"), std::string::npos) << error;
}

} // namespace
