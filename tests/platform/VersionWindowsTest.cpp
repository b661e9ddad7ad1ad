#include "platform/Version.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

using platform::OsVersionRecord;

// The query reports the NT family with the numbers the system itself gives; the packed
// GetVersion answer is an independent source of the same major and minor version.
TEST(VersionTest, QueryReportsTheWindowsNtFamily) {
    OsVersionRecord r = platform::QueryOsVersion();
    EXPECT_EQ(r.platformId, platform::kPlatformWindowsNT);
    EXPECT_GE(r.majorVersion, 5u);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const DWORD packed = GetVersion();
#pragma GCC diagnostic pop
    EXPECT_EQ(r.majorVersion, LOBYTE(LOWORD(packed)));
    EXPECT_EQ(r.minorVersion, HIBYTE(LOWORD(packed)));
    EXPECT_EQ(r.buildNumber & 0xFFFF, HIWORD(packed) & 0x7FFF);
}

} // namespace
