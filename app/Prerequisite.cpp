#include "app/Prerequisite.h"

#include <cstdint>

bool PrerequisiteMet(const DownloadRequest &request, const platform::OsVersionRecord &os) {
    // Every value widened to 64 bits first: in 32 bits a negative requirement would wrap to a
    // large unsigned number and, say, -1 would equal the identifier 0xFFFFFFFF.
    const int64_t platformId = request.OSPlatformId;
    const int64_t minimumMajor = request.MinimumOSMajorVersion;
    const int64_t minimumMinor = request.MinimumOSMinorVersion;
    const int64_t major = os.majorVersion;
    const int64_t minor = os.minorVersion;

    const bool noRequirement = platformId == 0 && minimumMajor == 0 && minimumMinor == 0;
    if (!noRequirement && static_cast<int64_t>(os.platformId) != platformId)
        return false;
    if (minimumMajor != major)
        return minimumMajor < major;
    return minimumMinor <= minor;
}

namespace {

std::string PlatformName(int64_t id) {
    switch (id) {
    case platform::kPlatformWin32s:
        return "Win32s";
    case platform::kPlatformWindows9x:
        return "Windows 95, 98 or Me";
    case platform::kPlatformWindowsNT:
        return "Windows NT";
    case 3:
        return "Windows CE";
    case platform::kPlatformLinux:
        return "Linux";
    default:
        return "the platform " + std::to_string(id);
    }
}

} // namespace

std::string PrerequisiteQuestion(const DownloadRequest &request,
                                 const platform::OsVersionRecord &os) {
    // "2.99.0" reads like a version: what the numbers ask for, in words, on a line of its own.
    const std::string meaning =
        !request.DescriptionDerived
            ? ""
            : "\r\nThat is " + PlatformName(request.OSPlatformId) + " version " +
                  std::to_string(request.MinimumOSMajorVersion) + "." +
                  std::to_string(request.MinimumOSMinorVersion) + " or later; this system is " +
                  PlatformName(os.platformId) + " " + std::to_string(os.majorVersion) + "." +
                  std::to_string(os.minorVersion) + ".";
    return "The minimum operating system requirement for " + request.ProductName + " is " +
           request.MinimumOSVersionDescription + "." + meaning +
           "\r\n\r\nDo you want to download " + request.ProductName + " anyway?";
}

PrerequisiteOutcome CheckPrerequisite(gui::Application &app, const DownloadRequest &request,
                                      const platform::OsVersionRecord &os) {
    if (PrerequisiteMet(request, os))
        return PrerequisiteOutcome::Met;
    gui::MessageResult answer = app.MessageBox(PrerequisiteQuestion(request, os), "Prerequisites",
                                               gui::MessageButtons::YesNo);
    return answer == gui::MessageResult::Yes ? PrerequisiteOutcome::GoOnAnyway
                                             : PrerequisiteOutcome::Declined;
}
