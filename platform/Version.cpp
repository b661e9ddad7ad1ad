#include "platform/Version.h"

#include <limits>
#include <mutex>

namespace platform {
namespace {

std::mutex overrideMutex;
std::optional<OsVersionRecord> versionOverride;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the decimal number at `at` into `value` and moves past it; a number above the 32-bit
// range saturates. Returns false, leaving both alone, when no digit is there.
bool ReadNumber(std::string_view text, std::size_t &at, uint32_t &value) {
    if (at >= text.size() || !IsDigit(text[at]))
        return false;
    constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
    uint64_t number = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        number = number * 10 + static_cast<uint64_t>(text[at] - '0');
        if (number > kMax)
            number = kMax; // stays below 2^64 on the next step
    }
    value = static_cast<uint32_t>(number);
    return true;
}

} // namespace

OsVersionRecord ParseKernelRelease(std::string_view release) {
    OsVersionRecord record;
    record.platformId = kPlatformLinux;
    std::size_t at = 0;
    // Each later number counts only when a '.' joins it to the one before.
    uint32_t *const fields[] = {&record.majorVersion, &record.minorVersion, &record.buildNumber};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0) {
            if (at >= release.size() || release[at] != '.')
                break;
            ++at;
        }
        if (!ReadNumber(release, at, *fields[i]))
            break;
    }
    return record;
}

OsVersionRecord QueryOsVersion() {
    {
        std::lock_guard lock(overrideMutex);
        if (versionOverride)
            return *versionOverride;
    }
    return QuerySystemVersion();
}

void SetOsVersionForTesting(std::optional<OsVersionRecord> record) {
    std::lock_guard lock(overrideMutex);
    versionOverride = std::move(record);
}

} // namespace platform
