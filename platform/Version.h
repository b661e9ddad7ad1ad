#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Platform identifiers of a version record. The first three are Windows' own; the last is
// ours for Linux, kept well clear of every identifier Windows reports (0 to 3, 3 being
// Windows CE) and positive as a 32-bit signed number, so that a request's OSPlatformId can
// name it.
constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformWindowsNT = 2;
constexpr uint32_t kPlatformLinux = 100;

// The running operating system's version.
struct OsVersionRecord {
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;
    std::string servicePack;

    bool operator==(const OsVersionRecord &) const = default;
};

// The running system's version: on Linux kPlatformLinux with the kernel's version from
// uname(); on Windows what GetVersionExW reports (the program's manifest declares the
// versions it supports, so the true one). Never fails: when the query does, the version
// numbers are 0. A record set by
// SetOsVersionForTesting is returned instead while it is set.
OsVersionRecord QueryOsVersion();

// A kernel release text as uname() gives it ("6.1.0-18-amd64") read as a Linux record: the
// leading "major.minor.patch" numbers, the patch level as the build number. Missing numbers
// are 0 ("5.10" has build 0, garbage gives 0.0.0); a number too large for 32 bits reads as
// the largest one. The service-pack text is empty.
OsVersionRecord ParseKernelRelease(std::string_view release);

// The system's own answer, which QueryOsVersion gives unless a test set another.
OsVersionRecord QuerySystemVersion();

// For tests only: makes QueryOsVersion return `record`, or, with std::nullopt, ask the
// system again.
void SetOsVersionForTesting(std::optional<OsVersionRecord> record);

} // namespace platform
