#include "platform/Version.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using platform::kPlatformLinux;
using platform::OsVersionRecord;
using platform::ParseKernelRelease;

struct Numbers {
    uint32_t major, minor, build;
};

void ExpectParsed(const char *release, Numbers expected) {
    OsVersionRecord r = ParseKernelRelease(release);
    EXPECT_EQ(r.majorVersion, expected.major) << '"' << release << '"';
    EXPECT_EQ(r.minorVersion, expected.minor) << '"' << release << '"';
    EXPECT_EQ(r.buildNumber, expected.build) << '"' << release << '"';
    EXPECT_EQ(r.platformId, kPlatformLinux) << '"' << release << '"';
    EXPECT_EQ(r.servicePack, "") << '"' << release << '"';
}

TEST(VersionTest, PlatformIdentifiersAreDistinctAndNameableBySignedRequests) {
    // A Linux system must never pass for a Windows one (0 to 3, 3 being Windows CE), and a
    // request's 32-bit signed OSPlatformId must be able to name it.
    EXPECT_GT(kPlatformLinux, 3u);
    EXPECT_LE(kPlatformLinux, static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
    EXPECT_EQ(platform::kPlatformWin32s, 0u);
    EXPECT_EQ(platform::kPlatformWindows9x, 1u);
    EXPECT_EQ(platform::kPlatformWindowsNT, 2u);
}

TEST(VersionTest, ParsesDistributionKernelReleases) {
    ExpectParsed("6.1.0-18-amd64", {6, 1, 0});
    ExpectParsed("5.15.0-91-generic", {5, 15, 0});
    ExpectParsed("6.8.12", {6, 8, 12});
    ExpectParsed("4.19.128-microsoft-standard", {4, 19, 128});
    ExpectParsed("6.18.44-fc-v1300", {6, 18, 44});
    ExpectParsed("6.1-rc3", {6, 1, 0});
    ExpectParsed("3.10.0.957.el7", {3, 10, 0}); // only three numbers are read
}

TEST(VersionTest, MissingNumbersAreZero) {
    ExpectParsed("5.10", {5, 10, 0});
    ExpectParsed("4", {4, 0, 0});
    ExpectParsed("4.", {4, 0, 0});
    ExpectParsed("6..1", {6, 0, 0});
    ExpectParsed("6.1x.3", {6, 1, 0}); // a number ends the reading unless '.' follows
}

TEST(VersionTest, GarbageReadsAsZero) {
    ExpectParsed("", {0, 0, 0});
    ExpectParsed("garbage", {0, 0, 0});
    ExpectParsed("v6.1.0", {0, 0, 0});
    ExpectParsed(" 6.1", {0, 0, 0});
    ExpectParsed("-6.1", {0, 0, 0});
    ExpectParsed(".6.1", {0, 0, 0});
}

TEST(VersionTest, NumbersTooLargeSaturate) {
    ExpectParsed("4294967295.4294967296.99999999999999999999999",
                 {4294967295u, 4294967295u, 4294967295u});
    ExpectParsed("0004.010", {4, 10, 0});
}

TEST(VersionTest, InjectedRecordReplacesTheQueryUntilCleared) {
    OsVersionRecord real = platform::QueryOsVersion();
    OsVersionRecord nt4{4, 0, 1381, platform::kPlatformWindowsNT, "Service Pack 6"};
    platform::SetOsVersionForTesting(nt4);
    EXPECT_EQ(platform::QueryOsVersion(), nt4);
    EXPECT_EQ(platform::QueryOsVersion(), nt4) << "stays until cleared";

    OsVersionRecord win98{4, 10, 2222, platform::kPlatformWindows9x, " A "};
    platform::SetOsVersionForTesting(win98);
    EXPECT_EQ(platform::QueryOsVersion(), win98);

    platform::SetOsVersionForTesting(std::nullopt);
    EXPECT_EQ(platform::QueryOsVersion(), real);
}

} // namespace
