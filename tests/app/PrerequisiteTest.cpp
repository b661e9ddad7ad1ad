#include "app/Prerequisite.h"

#include "app/CommandLine.h"
#include "gui/headless/HeadlessBackend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

using platform::kPlatformLinux;
using platform::kPlatformWin32s;
using platform::kPlatformWindows9x;
using platform::kPlatformWindowsNT;
using platform::OsVersionRecord;

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr uint32_t kUint32Max = std::numeric_limits<uint32_t>::max();

const std::string kBuiltInQuestion =
    "The minimum operating system requirement for Pelko is Windows 2000 SP4, XP, Vista, 7, "
    "Server 2003, Server 2008 or above.\r\n\r\nDo you want to download Pelko anyway?";

OsVersionRecord Os(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build = 0,
                   std::string servicePack = "") {
    return {major, minor, build, platformId, std::move(servicePack)};
}

// The built-in request with other requirement numbers.
DownloadRequest Requiring(int32_t platformId, int32_t major, int32_t minor) {
    DownloadRequest request = BuiltInRequest();
    request.OSPlatformId = platformId;
    request.MinimumOSMajorVersion = major;
    request.MinimumOSMinorVersion = minor;
    return request;
}

std::string Describe(const DownloadRequest &r, const OsVersionRecord &os) {
    return "requirement " + std::to_string(r.OSPlatformId) + "," +
           std::to_string(r.MinimumOSMajorVersion) + "," + std::to_string(r.MinimumOSMinorVersion) +
           " on platform " + std::to_string(os.platformId) + " version " +
           std::to_string(os.majorVersion) + "." + std::to_string(os.minorVersion);
}

void ExpectMet(const DownloadRequest &r, std::initializer_list<OsVersionRecord> systems) {
    for (const OsVersionRecord &os : systems)
        EXPECT_TRUE(PrerequisiteMet(r, os)) << Describe(r, os);
}

void ExpectNotMet(const DownloadRequest &r, std::initializer_list<OsVersionRecord> systems) {
    for (const OsVersionRecord &os : systems)
        EXPECT_FALSE(PrerequisiteMet(r, os)) << Describe(r, os);
}

// --- The built-in requirement: the NT family, 5.0 or later ---------------------------------

TEST(PrerequisiteMetTest, BuiltInRequirementIsMetByNtFrom50On) {
    ExpectMet(BuiltInRequest(), {Os(kPlatformWindowsNT, 5, 0), Os(kPlatformWindowsNT, 5, 1),
                                 Os(kPlatformWindowsNT, 5, 2), Os(kPlatformWindowsNT, 6, 0),
                                 Os(kPlatformWindowsNT, 6, 1), Os(kPlatformWindowsNT, 10, 0)});
}

TEST(PrerequisiteMetTest, BuiltInRequirementFailsOnNtBefore50) {
    ExpectNotMet(BuiltInRequest(), {Os(kPlatformWindowsNT, 4, 0), Os(kPlatformWindowsNT, 4, 90),
                                    Os(kPlatformWindowsNT, 3, 51), Os(kPlatformWindowsNT, 0, 0)});
}

TEST(PrerequisiteMetTest, BuiltInRequirementFailsOffTheNtFamilyWhateverTheVersion) {
    ExpectNotMet(BuiltInRequest(), {Os(kPlatformWindows9x, 4, 10), Os(kPlatformWindows9x, 5, 0),
                                    Os(kPlatformWindows9x, 10, 0), Os(kPlatformWin32s, 6, 0),
                                    Os(kPlatformLinux, 6, 1), Os(kPlatformLinux, 5, 0)});
}

// --- No requirement ----------------------------------------------------------------------

TEST(PrerequisiteMetTest, ZeroRequirementIsMetEverywhere) {
    ExpectMet(Requiring(0, 0, 0), {Os(kPlatformWin32s, 0, 0), Os(kPlatformWindows9x, 4, 10),
                                   Os(kPlatformWindowsNT, 4, 0), Os(kPlatformWindowsNT, 10, 0),
                                   Os(kPlatformLinux, 6, 1), Os(kPlatformLinux, 0, 0),
                                   Os(kUint32Max, 0, 0), Os(kUint32Max, kUint32Max, kUint32Max)});
}

TEST(PrerequisiteMetTest, PlatformTestIsSkippedOnlyWhenAllThreeNumbersAreZero) {
    // Platform 0 with a version is a real requirement for Win32s, not "none".
    ExpectNotMet(Requiring(0, 6, 0), {Os(kPlatformWindowsNT, 6, 0), Os(kPlatformWindowsNT, 10, 0),
                                      Os(kPlatformLinux, 6, 1)});
    ExpectMet(Requiring(0, 6, 0), {Os(kPlatformWin32s, 6, 0)});
    ExpectNotMet(Requiring(0, 0, 1), {Os(kPlatformWindowsNT, 10, 0), Os(kPlatformWin32s, 0, 0)});
    ExpectMet(Requiring(0, 0, 1), {Os(kPlatformWin32s, 0, 1)});
    // A platform alone, with version 0.0, asks for that platform at any version.
    ExpectMet(Requiring(2, 0, 0), {Os(kPlatformWindowsNT, 0, 0), Os(kPlatformWindowsNT, 3, 51)});
    ExpectNotMet(Requiring(2, 0, 0), {Os(kPlatformWindows9x, 4, 10), Os(kPlatformWin32s, 0, 0)});
}

// --- Version order -----------------------------------------------------------------------

TEST(PrerequisiteMetTest, MajorVersionDecidesBeforeMinor) {
    DownloadRequest r = Requiring(2, 6, 1);
    ExpectMet(r, {Os(kPlatformWindowsNT, 6, 1), Os(kPlatformWindowsNT, 6, 2),
                  Os(kPlatformWindowsNT, 7, 0), Os(kPlatformWindowsNT, 10, 0)});
    ExpectNotMet(r, {Os(kPlatformWindowsNT, 6, 0), Os(kPlatformWindowsNT, 5, 99),
                     Os(kPlatformWindowsNT, 5, 1)});
    // A higher major version wins over a lower minor, and a lower one loses whatever the minor.
    ExpectMet(Requiring(2, 5, 9), {Os(kPlatformWindowsNT, 6, 0)});
    ExpectNotMet(Requiring(2, 6, 0), {Os(kPlatformWindowsNT, 5, kUint32Max)});
}

TEST(PrerequisiteMetTest, BuildNumberAndServicePackAreIgnored) {
    DownloadRequest r = Requiring(2, 6, 1);
    ExpectNotMet(r, {Os(kPlatformWindowsNT, 6, 0, 9999, "Service Pack 9"),
                     Os(kPlatformWindowsNT, 6, 0, kUint32Max)});
    ExpectMet(r, {Os(kPlatformWindowsNT, 6, 1, 0, ""), Os(kPlatformWindowsNT, 6, 1, 7600)});
}

TEST(PrerequisiteMetTest, LinuxCanBeRequiredByItsIdentifier) {
    DownloadRequest r = Requiring(static_cast<int32_t>(kPlatformLinux), 5, 10);
    ExpectMet(r, {Os(kPlatformLinux, 5, 10), Os(kPlatformLinux, 6, 1)});
    ExpectNotMet(r, {Os(kPlatformLinux, 5, 4), Os(kPlatformWindowsNT, 10, 0)});
}

// --- Signed requirements against unsigned versions, as 64-bit values --------------------

TEST(PrerequisiteMetTest, NegativeVersionRequirementIsBelowEveryVersion) {
    ExpectMet(Requiring(2, -1, 0), {Os(kPlatformWindowsNT, 0, 0), Os(kPlatformWindowsNT, 4, 0),
                                    Os(kPlatformWindowsNT, kUint32Max, 0)});
    ExpectMet(Requiring(2, kInt32Min, kInt32Max), {Os(kPlatformWindowsNT, 0, 0)});
    ExpectMet(Requiring(2, 6, -1), {Os(kPlatformWindowsNT, 6, 0)});
    ExpectMet(Requiring(2, 0, kInt32Min), {Os(kPlatformWindowsNT, 0, 0)});
    // The platform must still match.
    ExpectNotMet(Requiring(2, -1, 0), {Os(kPlatformWindows9x, 4, 10), Os(kPlatformLinux, 6, 1)});
}

TEST(PrerequisiteMetTest, NegativePlatformIdMatchesNoPlatform) {
    // In 32 bits -1 would equal 0xFFFFFFFF, and so on.
    ExpectNotMet(Requiring(-1, 0, 0), {Os(kUint32Max, 0, 0), Os(kUint32Max, 10, 0)});
    ExpectNotMet(Requiring(-2, -1, -1), {Os(kUint32Max - 1, 10, 0)});
    ExpectNotMet(Requiring(kInt32Min, 0, 0), {Os(0x80000000u, 10, 0)});
    ExpectNotMet(Requiring(-1, 0, 0), {Os(kPlatformWin32s, 0, 0), Os(kPlatformWindowsNT, 10, 0)});
}

TEST(PrerequisiteMetTest, LargeUnsignedVersionsAreAboveEveryRequirement) {
    // As signed 32-bit numbers these versions would be negative, below the requirement.
    ExpectMet(Requiring(2, kInt32Max, 0),
              {Os(kPlatformWindowsNT, kUint32Max, 0), Os(kPlatformWindowsNT, 0x80000000u, 0)});
    ExpectMet(Requiring(2, 6, kInt32Max), {Os(kPlatformWindowsNT, 6, kUint32Max)});
    ExpectMet(Requiring(2, kInt32Max, kInt32Max),
              {Os(kPlatformWindowsNT, static_cast<uint32_t>(kInt32Max), 0x80000000u)});
    ExpectNotMet(Requiring(2, kInt32Max, 0), {Os(kPlatformWindowsNT, 10, 0)});
    // The largest identifier a request can name matches only itself, not its unsigned
    // neighbour.
    ExpectMet(Requiring(kInt32Max, 1, 0), {Os(static_cast<uint32_t>(kInt32Max), 1, 0)});
    ExpectNotMet(Requiring(kInt32Max, 1, 0), {Os(0x80000000u, 1, 0)});
}

// --- The question ------------------------------------------------------------------------

TEST(PrerequisiteQuestionTest, NamesProductAndDescription) {
    EXPECT_EQ(PrerequisiteQuestion(BuiltInRequest(), Os(kPlatformLinux, 6, 1)), kBuiltInQuestion);

    DownloadRequest r = BuiltInRequest();
    r.ProductName = "Tool 2";
    r.MinimumOSVersionDescription = "Linux 5.10";
    EXPECT_EQ(PrerequisiteQuestion(r, Os(kPlatformLinux, 6, 1)),
              "The minimum operating system requirement for Tool 2 is "
              "Linux 5.10.\r\n\r\nDo you want to download Tool 2 anyway?");
}

TEST(PrerequisiteQuestionTest, CommandLineWithoutDescriptionNamesTheNumbers) {
    // The major version's keyword is spelled with an "A" after "OS".
    DownloadRequest r;
    ReadCommandLine({"/bin/download", "http://server/a/setup.exe", "OSPlatformId:2",
                     "MinimumOSAMajorVersion:6", "MinimumOSMinorVersion:1"},
                    r);
    CompleteDerivedFields(r);
    EXPECT_FALSE(PrerequisiteMet(r, Os(kPlatformWindowsNT, 6, 0)));
    // "2.6.1" is no version: what it asks for follows, beside what the system is.
    EXPECT_EQ(PrerequisiteQuestion(r, Os(kPlatformWindowsNT, 6, 0)),
              "The minimum operating system requirement for setup.exe from server/a is "
              "2.6.1.\r\nThat is Windows NT version 6.1 or later; this system is Windows NT "
              "6.0.\r\n\r\nDo you want to download setup.exe from server/a anyway?");
}

TEST(PrerequisiteQuestionTest, CommandLineWithoutRequirementIsMetHere) {
    DownloadRequest r;
    ReadCommandLine({"/bin/download", "http://server/setup.exe"}, r);
    CompleteDerivedFields(r);
    EXPECT_TRUE(PrerequisiteMet(r, platform::QueryOsVersion()));
}

// --- Asking the user ---------------------------------------------------------------------

class CheckPrerequisiteTest : public ::testing::Test {
  protected:
    CheckPrerequisiteTest() : app_(MakeHeadless()) {}

    std::unique_ptr<gui::Backend> MakeHeadless() {
        auto backend = std::make_unique<gui::HeadlessBackend>();
        backend_ = backend.get();
        return backend;
    }

    // Runs the check on NT 4.0 against the built-in requirement with `answer` scripted, and
    // expects exactly the one question box.
    PrerequisiteOutcome AskAndAnswer(gui::MessageResult answer) {
        backend_->answers.push_back(answer);
        PrerequisiteOutcome outcome =
            CheckPrerequisite(app_, BuiltInRequest(), Os(kPlatformWindowsNT, 4, 0));
        EXPECT_EQ(backend_->messages.size(), 1u);
        if (!backend_->messages.empty()) {
            const auto &box = backend_->messages.front();
            EXPECT_EQ(box.text, kBuiltInQuestion);
            EXPECT_EQ(box.caption, "Prerequisites");
            EXPECT_EQ(box.buttons, gui::MessageButtons::YesNo);
        }
        return outcome;
    }

    gui::HeadlessBackend *backend_ = nullptr;
    gui::Application app_;
};

TEST_F(CheckPrerequisiteTest, MetRequirementAsksNothing) {
    EXPECT_EQ(CheckPrerequisite(app_, BuiltInRequest(), Os(kPlatformWindowsNT, 5, 1)),
              PrerequisiteOutcome::Met);
    EXPECT_EQ(CheckPrerequisite(app_, Requiring(0, 0, 0), Os(kPlatformLinux, 6, 1)),
              PrerequisiteOutcome::Met);
    EXPECT_TRUE(backend_->messages.empty());
}

TEST_F(CheckPrerequisiteTest, YesGoesOnAnyway) {
    EXPECT_EQ(AskAndAnswer(gui::MessageResult::Yes), PrerequisiteOutcome::GoOnAnyway);
}

TEST_F(CheckPrerequisiteTest, NoDeclines) {
    EXPECT_EQ(AskAndAnswer(gui::MessageResult::No), PrerequisiteOutcome::Declined);
}

TEST_F(CheckPrerequisiteTest, AnyOtherAnswerDeclines) {
    // Only an explicit Yes downloads against the requirement.
    EXPECT_EQ(AskAndAnswer(gui::MessageResult::Cancel), PrerequisiteOutcome::Declined);
}

#ifdef _WIN32
// The built-in request asks for the Windows NT family, which this system is.
TEST_F(CheckPrerequisiteTest, ThisSystemMeetsTheBuiltInRequirement) {
    EXPECT_EQ(CheckPrerequisite(app_, BuiltInRequest(), platform::QueryOsVersion()),
              PrerequisiteOutcome::Met);
    EXPECT_TRUE(backend_->messages.empty());
}
#else
TEST_F(CheckPrerequisiteTest, ThisSystemIsAskedAboutTheBuiltInRequirement) {
    backend_->answers.push_back(gui::MessageResult::No);
    EXPECT_EQ(CheckPrerequisite(app_, BuiltInRequest(), platform::QueryOsVersion()),
              PrerequisiteOutcome::Declined);
    ASSERT_EQ(backend_->messages.size(), 1u);
    EXPECT_EQ(backend_->messages[0].text, kBuiltInQuestion);
}
#endif

} // namespace
