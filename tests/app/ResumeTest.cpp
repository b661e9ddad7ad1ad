// A download that ends without its file keeps what arrived, and the next run of the same
// download goes on from there, through the real program on the console: the attempts used up
// (kept, then continued with If-Range and only the missing bytes asked for), a server whose
// file changed under the same validator (the whole new file, exact), a damaged record (started
// over), no validator (nothing kept, unless a digest is pinned), and the user's Ctrl+C (nothing
// left).
#include "RealProgram.h"
#include "platform/Sha256.h"
#include "tests/support/RangeServer.h"

#include <gtest/gtest.h>

namespace {

using namespace realprogram;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;

constexpr int64_t kSize = 4 * 1024 * 1024;
const std::string kDate = "Tue, 01 Jul 2025 10:00:00 GMT";

std::string UrlOf(const RangeServer &server) {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/dir/setup.sh";
}

// The files an earlier run left in `folder`: working files and records.
std::vector<std::string> KeptFiles(const fs::path &folder) {
    std::vector<std::string> kept;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("tlv"))
            kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

// The first byte of each range the requests asked for.
std::vector<int64_t> FirstBytesAskedFor(const std::vector<SeenRequest> &requests) {
    std::vector<int64_t> firsts;
    for (const SeenRequest &r : requests) {
        long long first = -1;
        if (r.method == "GET" && r.rangeLine != "Range: bytes=0-0" &&
            std::sscanf(r.rangeLine.c_str(), "Range: bytes=%lld", &first) == 1)
            firsts.push_back(first);
    }
    return firsts;
}

// Runs the program against a server that refuses every range from the file's middle on, with
// one attempt and the error action Close: it ends with exit 2 and keeps the bytes before it,
// and maybe more (ranges that begin before it are served whole). The
// server's port, for the next run's server: the same URL is the same download.
uint16_t RunUntilTheAttemptsAreUsedUp(DownloadSetup &setup, const std::string &date = kDate,
                                      const std::vector<std::string> &parameters = {},
                                      size_t kept = 2) {
    RangeServer server(ReadFile(setup.source), date);
    server.SetFaults([](size_t, const SeenRequest &r) {
        long long first = -1;
        if (r.method == "GET" &&
            std::sscanf(r.rangeLine.c_str(), "Range: bytes=%lld", &first) == 1 &&
            first >= kSize / 2)
            return RangeFault{RangeFault::Kind::Status, 0, 503, 0ms};
        return RangeFault{};
    });
    std::vector<std::string> options{"MaximumNumberOfAttempts:1", "ErrorAction:Close"};
    options.insert(options.end(), parameters.begin(), parameters.end());
    auto [status, output] = setup.Run(UrlOf(server), 120s, options);
    ExpectExitCode(status, 2, output);
    EXPECT_EQ(KeptFiles(setup.programDir).size(), kept)
        << "the working file and its record are kept:\n"
        << output;
    EXPECT_FALSE(fs::exists(setup.downloaded)) << output;
    return server.Port();
}

TEST(Resume, TheNextRunAsksOnlyForWhatIsMissingWithIfRange) {
    DownloadSetup setup(kSize);
    const uint16_t port = RunUntilTheAttemptsAreUsedUp(setup);

    RangeServer server(ReadFile(setup.source), "127.0.0.1", port, kDate);
    auto [status, output] = setup.Run(UrlOf(server), 120s, {"CompletionLaunchApplication:0"});
    ExpectExitCode(status, 0, output);
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1);
    // What the first run kept depends on how its workers met the refusals: at least half.
    const size_t resuming = output.find("Resuming: ");
    ASSERT_NE(resuming, std::string::npos) << output;
    EXPECT_EQ(output.substr(resuming + 13, 23), " of 4.0 MB already here") << output;
    const auto requests = server.Requests();
    for (const int64_t first : FirstBytesAskedFor(requests))
        EXPECT_GE(first, kSize / 2) << "a kept byte is asked for again";
    for (const SeenRequest &r : requests) {
        if (r.method != "GET")
            continue;
        EXPECT_NE(r.request.find("If-Range: " + kDate + "\r\n"), std::string::npos) << r.request;
    }
    EXPECT_TRUE(KeptFiles(setup.programDir).empty()) << "left behind once the file arrived";
}

TEST(Resume, AFileThatChangedUnderTheSameValidatorArrivesWholeAndExact) {
    DownloadSetup setup(kSize);
    const uint16_t port = RunUntilTheAttemptsAreUsedUp(setup);

    // The same size and date, other bytes; like a CDN, the server answers every If-Range with
    // the whole file.
    std::string changed = ReadFile(setup.source);
    for (size_t i = kScriptHeader.size(); i < changed.size(); i += 4096)
        changed[i] = static_cast<char>(changed[i] ^ 0x5a);
    RangeServer server(changed, "127.0.0.1", port, kDate);
    server.SetFaults([](size_t, const SeenRequest &r) {
        return r.request.find("If-Range:") != std::string::npos
                   ? RangeFault{RangeFault::Kind::WholeFile, 0, 0, 0ms}
                   : RangeFault{};
    });
    auto [status, output] = setup.Run(UrlOf(server), 120s, {"CompletionLaunchApplication:0"});
    ExpectExitCode(status, 0, output);
    EXPECT_EQ(ReadFile(setup.downloaded), changed) << output;
    EXPECT_TRUE(KeptFiles(setup.programDir).empty());
}

TEST(Resume, ADamagedRecordIsIgnoredAndTheDownloadStartsOver) {
    DownloadSetup setup(kSize);
    const uint16_t port = RunUntilTheAttemptsAreUsedUp(setup);
    for (const std::string &name : KeptFiles(setup.programDir)) {
        if (!name.ends_with(".resume"))
            continue;
        const fs::path record = setup.programDir / name;
        std::string bytes = ReadFile(record);
        bytes[bytes.find("done ") + 5] ^= 1; // one bit of the first range's start
        std::ofstream(record, std::ios::binary | std::ios::trunc) << bytes;
    }
    RangeServer server(ReadFile(setup.source), "127.0.0.1", port, kDate);
    auto [status, output] = setup.Run(UrlOf(server), 120s, {"CompletionLaunchApplication:0"});
    ExpectExitCode(status, 0, output);
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1);
    EXPECT_EQ(output.find("Resuming"), std::string::npos) << output;
    const auto firsts = FirstBytesAskedFor(server.Requests());
    EXPECT_NE(std::find(firsts.begin(), firsts.end(), 0), firsts.end()) << "not from byte 0";
}

TEST(Resume, WithoutAValidatorOnlyAPinnedDigestKeepsTheDownload) {
    DownloadSetup setup(kSize);
    RunUntilTheAttemptsAreUsedUp(setup, "", {}, 0);

    platform::TSha256 digest;
    const std::string data = ReadFile(setup.source);
    digest.Update(data.data(), data.size());
    const std::string pin = "Sha256:" + digest.Finish();
    const uint16_t port = RunUntilTheAttemptsAreUsedUp(setup, "", {pin});
    RangeServer server(data, "127.0.0.1", port);
    auto [status, output] = setup.Run(UrlOf(server), 120s, {"CompletionLaunchApplication:0", pin});
    ExpectExitCode(status, 0, output);
    EXPECT_NE(output.find("Resuming: "), std::string::npos) << output;
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1);
    EXPECT_TRUE(KeptFiles(setup.programDir).empty());
}

TEST(Resume, CtrlCLeavesNothingAndTheSystemsEndKeepsTheDownload) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "Ctrl+C" : "SIGTERM");
        DownloadSetup setup(kSize);
        RangeServer server(ReadFile(setup.source), kDate);
        server.SetBodyPace(16 * 1024, 100ms); // 40 s at the least: the signal comes first
        const fs::path log = setup.temp.Path() / "program.log";
        std::optional<int> status;
        {
            Child child({setup.program.string(), UrlOf(server)},
                        ConsoleEnvironment(setup.tmpdir, {}), setup.cwd, log);
            // The transfer runs once its record is there.
            for (int i = 0; i < 300 && KeptFiles(setup.programDir).size() < 2; ++i)
                std::this_thread::sleep_for(100ms);
            ASSERT_EQ(KeptFiles(setup.programDir).size(), 2u) << ReadFile(log);
            std::this_thread::sleep_for(500ms);
            child.Signal(signal);
            status = child.Wait(30s);
        }
        ExpectExitCode(status, 2, ReadFile(log));
        EXPECT_EQ(KeptFiles(setup.programDir).size(), signal == SIGINT ? 0u : 2u);
    }
}

} // namespace
