#pragma once

// The fixture of the join's tests on each system: a scratch folder per test and pieces made
// in a folder.

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace joinpiecestest {

namespace fs = std::filesystem;

class JoinPiecesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("join-" + std::to_string(now) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes the pieces into `where` (the scratch folder by default) and returns their paths
    // in order.
    std::vector<std::string> MakePieces(const std::vector<std::string> &parts) {
        return MakePieces(dir_, parts);
    }
    std::vector<std::string> MakePieces(const fs::path &where,
                                        const std::vector<std::string> &parts) {
        std::vector<std::string> paths;
        for (size_t i = 0; i < parts.size(); ++i) {
            paths.push_back((where / ("piece" + std::to_string(i) + ".tmp")).string());
            testsupport::WriteFile(paths.back(), parts[i]);
        }
        return paths;
    }

    fs::path dir_;
};

} // namespace joinpiecestest
