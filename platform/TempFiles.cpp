#include "platform/TempFiles.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>

namespace platform {
namespace {

// The cache; the mutex makes concurrent first calls ask once and agree on the answer.
std::mutex cacheMutex;
std::optional<std::string> cachedDirectory;

} // namespace

std::string TempDirectory() {
    std::lock_guard lock(cacheMutex);
    if (!cachedDirectory)
        cachedDirectory = AskTempDirectory();
    return *cachedDirectory;
}

void ForgetTempDirectoryForTesting() {
    std::lock_guard lock(cacheMutex);
    cachedDirectory.reset();
}


std::string DayNumberText(const std::tm &localTime, int milliseconds) {
    using namespace std::chrono;
    // Days of the civil calendar, counted from the day-number origin.
    sys_days date = year{localTime.tm_year + 1900} /
                    month{static_cast<unsigned>(localTime.tm_mon + 1)} /
                    day{static_cast<unsigned>(localTime.tm_mday)};
    constexpr sys_days origin = year{1899} / December / 30;
    long long days = (date - origin).count();
    double secondsOfDay = localTime.tm_hour * 3600.0 + localTime.tm_min * 60.0 + localTime.tm_sec +
                          milliseconds / 1000.0;
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(days) + secondsOfDay / 86400.0);
    return text;
}

} // namespace platform
