#include "app/Prerequisite.h"

#include "platform/Catalogue.h"

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

using platform::Fill;
using platform::Tr;
using platform::TrKey;

// The name of a platform identifier; empty for one without a name.
std::string PlatformName(int64_t id) {
    switch (id) {
    case platform::kPlatformWin32s:
        return "Win32s";
    case platform::kPlatformWindows9x:
        // TRANSLATORS: the systems of one platform identifier, named in the prerequisite
        // question.
        return Tr("Windows 95, 98 or Me");
    case platform::kPlatformWindowsNT:
        return "Windows NT";
    case 3:
        return "Windows CE";
    case platform::kPlatformLinux:
        return "Linux";
    default:
        return "";
    }
}

// What a requirement's bare numbers mean, beside the system's own: one pattern for each case of
// the platform wanted (first index) and this system's (second) having no name (1).
constexpr const char *kMeanings[2][2] = {
    // TRANSLATORS: what the numbers of a requirement mean: %1 the system wanted, %2.%3 its
    // version; %4 this system, %5.%6 its version.
    {TrKey("That is %1 version %2.%3 or later; this system is %4 %5.%6."),
     // TRANSLATORS: as "That is %1 version ...", for a system without a name: %4 is the
     // number of its platform.
     TrKey("That is %1 version %2.%3 or later; this system is the platform %4 %5.%6.")},
    // TRANSLATORS: as "That is %1 version ...", for a platform wanted that has no name: %1 is
    // its number.
    {TrKey("That is the platform %1 version %2.%3 or later; this system is %4 %5.%6."),
     // TRANSLATORS: as "That is %1 version ...", for platforms without names: %1 and %4 are
     // their numbers.
     TrKey("That is the platform %1 version %2.%3 or later; this system is the platform %4 "
           "%5.%6.")},
};

} // namespace

std::string PrerequisiteQuestion(const DownloadRequest &request,
                                 const platform::OsVersionRecord &os) {
    std::string meaning;
    // "2.99.0" reads like a version: what the numbers ask for, in words, on a line of its own.
    if (request.DescriptionDerived) {
        const std::string wanted = PlatformName(request.OSPlatformId);
        const std::string running = PlatformName(os.platformId);
        meaning = "\r\n" + Fill(Tr(kMeanings[wanted.empty()][running.empty()]),
                                {wanted.empty() ? std::to_string(request.OSPlatformId) : wanted,
                                 std::to_string(request.MinimumOSMajorVersion),
                                 std::to_string(request.MinimumOSMinorVersion),
                                 running.empty() ? std::to_string(os.platformId) : running,
                                 std::to_string(os.majorVersion), std::to_string(os.minorVersion)});
    }
    // TRANSLATORS: %1 is the product's name, %2 the system it needs (a description such as
    // "Windows 2000 SP4, XP, Vista or above", or numbers such as "2.6.1").
    return Fill(Tr("The minimum operating system requirement for %1 is %2."),
                {request.ProductName, request.MinimumOSVersionDescription}) +
           meaning + "\r\n\r\n" +
           // TRANSLATORS: %1 is the product's name.
           Fill(Tr("Do you want to download %1 anyway?"), {request.ProductName});
}

PrerequisiteOutcome CheckPrerequisite(gui::Application &app, const DownloadRequest &request,
                                      const platform::OsVersionRecord &os) {
    if (PrerequisiteMet(request, os))
        return PrerequisiteOutcome::Met;
    // TRANSLATORS: the caption of the box that asks whether to download for a system the
    // product does not support.
    const char *const caption = Tr("Prerequisites");
    gui::MessageResult answer =
        app.MessageBox(PrerequisiteQuestion(request, os), caption, gui::MessageButtons::YesNo);
    return answer == gui::MessageResult::Yes ? PrerequisiteOutcome::GoOnAnyway
                                             : PrerequisiteOutcome::Declined;
}
