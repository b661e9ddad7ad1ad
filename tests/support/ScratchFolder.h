#pragma once
// A test that runs in a scratch folder of its own, removed afterwards: `folder_` is its path
// with the separator that the program's folder arguments end in.
#include "platform/ProcessInfo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

namespace testsupport {

class ScratchFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        scratch_ = std::filesystem::temp_directory_path() / ("scratch-test-" + std::to_string(now));
        std::filesystem::create_directories(scratch_);
        folder_ = scratch_.string() + platform::PathSeparator();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
    // The names in the scratch folder.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(scratch_))
            names.insert(entry.path().filename().string());
        return names;
    }
    std::string In(const std::string &name) const { return folder_ + name; }

    std::filesystem::path scratch_;
    std::string folder_;
};

} // namespace testsupport
