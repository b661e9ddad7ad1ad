// The pinned SHA-256 digest in the controller: a matching file completes, a differing one is
// deleted and never run, no digest is computed in a window without a pin, and closing the
// window while the file is read leaves nothing. A pinned signer refuses an unsigned file.
#include "ControllerFixture.h"
#include "platform/Sha256.h"
#include "platform/Signature.h"

#include <algorithm>

using namespace controllertest;

namespace {

std::string Sha256Of(const std::string &data) {
    platform::TSha256 digest;
    digest.Update(data.data(), data.size());
    return digest.Finish();
}

bool Showed(const RecordingBackend &backend, const std::string &status) {
    return std::find(backend.statuses.begin(), backend.statuses.end(), status) !=
           backend.statuses.end();
}

const char kComputing[] = "Computing the file's SHA-256 digest...";

} // namespace

TEST_F(Controller, APinnedFileThatMatchesCompletesOneThatDiffersIsDeletedAndNeverRun) {
    const std::string data = PatternBytes(0, 300000);
    const std::string good = Sha256Of(data);
    const std::string other = Sha256Of(data + "x");
    RangeServer server(data);
    {
        TMainForm &m = Open({Url(server, "file.bin"), "ProductName:Pelko", "Sha256:" + good});
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(m.ExitCode, kExitVerified);
        EXPECT_TRUE(backend->messages.empty());
        EXPECT_TRUE(Showed(*backend, kComputing));
        EXPECT_EQ(Status(), "Finished.");
        EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), data);
        EXPECT_EQ(m.DigestLine,
                  "SHA256 (" + (dir / "out" / "file.bin").string() + ") = " + good);
    }
    main.reset();
    backend->messages.clear();
    backend->statuses.clear();
    {
        TMainForm &m = Open({Url(server, "file.bin"), "ProductName:Pelko", "Sha256:" + other});
        m.Options().CompletionLaunchApplication = true;
        m.Options().CompletionOpenFolder = true;
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(m.ExitCode, kExitFailed);
        ASSERT_EQ(backend->messages.size(), 1u);
        EXPECT_EQ(backend->messages[0].caption, "Connection error");
        EXPECT_EQ(backend->messages[0].text,
                  "The file did not download correctly. Please try again.\r\n\r\n"
                  "SHA-256 digest expected: " + other + "\r\nSHA-256 digest of the file: " + good);
        EXPECT_EQ(Status(), "Verification failed.");
        EXPECT_FALSE(Showed(*backend, "Executing downloaded application..."));
        // The file that failed never took the name: the one there from before stays as it was.
        EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), data);
        EXPECT_EQ(WorkingFilesLeft(), 0);
    }
}

TEST_F(Controller, WithoutAPinAWindowComputesNoDigest) {
    RangeServer server(PatternBytes(0, 5000));
    TMainForm &m = OpenFor(server);
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(m.ExitCode, kExitVerified);
    EXPECT_FALSE(Showed(*backend, kComputing));
    EXPECT_EQ(m.DigestLine, "");
}

TEST_F(Controller, ClosingWhileThePinnedFileIsReadLeavesNothing) {
    const std::string data = PatternBytes(0, 100000);
    RangeServer server(data);
    TMainForm &m = Open({Url(server, "file.bin"), "ProductName:Pelko", "Sha256:" + Sha256Of(data)});
    m.Options().CompletionLaunchApplication = true;
    ShowWithoutActivation(m);
    // The close arrives while the file is read, as a click processed between its blocks does.
    backend->onStatus = [&m](const std::string &status) {
        if (status == kComputing)
            m.Form().Close();
    };
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    backend->onStatus = nullptr;
    EXPECT_EQ(m.ExitCode, kExitIncomplete);
    EXPECT_TRUE(backend->messages.empty());
    EXPECT_FALSE(Showed(*backend, "Executing downloaded application..."));
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "file.bin"));
    EXPECT_EQ(WorkingFilesLeft(), 0);
}

TEST_F(Controller, APinnedSignerRefusesAnUnsignedFileDeletesItAndNeverRunsIt) {
    if (!platform::CanCheckSignatures())
        GTEST_SKIP() << "signers are checked by the Windows program only";
    RangeServer server(PatternBytes(0, 200000));
    TMainForm &m = Open({Url(server, "file.exe"), "ProductName:Pelko", "Signer:A Vendor|B Vendor"});
    m.Options().CompletionLaunchApplication = true;
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.exe", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(m.ExitCode, kExitFailed);
    EXPECT_TRUE(Showed(*backend, "Checking the file's signature..."));
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "Connection error");
    EXPECT_EQ(backend->messages[0].text,
              "The file did not download correctly. Please try again.\r\n\r\n"
              "Signer expected: A Vendor | B Vendor\r\n"
              "Signer of the file: none (the file is not signed)");
    EXPECT_EQ(Status(), "Verification failed.");
    EXPECT_FALSE(Showed(*backend, "Executing downloaded application..."));
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "file.exe"));
    EXPECT_EQ(WorkingFilesLeft(), 0);
}
