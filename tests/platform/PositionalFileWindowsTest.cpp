// The positional file's Windows case: while it is open, others may read the working file
// (sharing writing and deleting, which its handle does) but not write, rename or delete it.
#include "platform/PositionalFile.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::TPositionalFile;

// Opens `path` for `access` allowing others everything; returns the error code (0: opened).
DWORD OpenError(const std::string &path, DWORD access) {
    HANDLE file =
        CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return 0;
}

TEST(PositionalFileWindowsTest, OthersMayOnlyReadTheOpenWorkingFile) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path scratch = fs::temp_directory_path() / ("positional-win-" + std::to_string(now));
    fs::create_directories(scratch);
    const std::string moved = (scratch / "moved.bin").string();
    {
        TPositionalFile file;
        ASSERT_EQ(file.CreateIn(scratch.string() + "\\"), 0);
        ASSERT_EQ(file.WriteAt("part", 4, 0), 0);
        const std::string path = file.Path();
        EXPECT_EQ(OpenError(path, GENERIC_READ), 0u);
        EXPECT_EQ(OpenError(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(MoveFileExA(path.c_str(), moved.c_str(), 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

        // Closed, it is an ordinary file again.
        ASSERT_EQ(file.Close(), 0);
        EXPECT_EQ(OpenError(path, GENERIC_WRITE), 0u);
        EXPECT_TRUE(MoveFileExA(path.c_str(), moved.c_str(), 0));
    }
    EXPECT_TRUE(DeleteFileA(moved.c_str()));
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

} // namespace
