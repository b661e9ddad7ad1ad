#include "platform/Version.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>

namespace {

using platform::kPlatformLinux;
using platform::OsVersionRecord;
using platform::ParseKernelRelease;

TEST(VersionTest, QueryReportsThisKernel) {
    OsVersionRecord r = platform::QueryOsVersion();
    EXPECT_EQ(r.platformId, kPlatformLinux);
    EXPECT_GE(r.majorVersion, 3u);

    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(r, ParseKernelRelease(names.release)) << names.release;
}

} // namespace
