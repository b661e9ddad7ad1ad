// The real program end to end: a large file served by nginx on loopback is downloaded by the
// built `download` executable, run on the console backend from a copy in a temporary folder,
// and must arrive byte-identical next to that copy, with the downloaded file run at the end
// and no piece file left behind; over http and over https (a certificate of the tests' own
// authority, trusted through SSL_CERT_FILE), and not at all from a server whose certificate
// has expired.
#include "RealProgram.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>

namespace {

using namespace realprogram;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int64_t kFileSize = 32LL << 20;
constexpr int64_t kHttpsFileSize = 16LL << 20;
#else
constexpr int64_t kFileSize = 256LL << 20;
constexpr int64_t kHttpsFileSize = 64LL << 20;
#endif

// The byte ranges of the 206 replies in an nginx access log, as (first, last) pairs.
std::vector<std::pair<int64_t, int64_t>> PartialReplies(const std::string &log) {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    const std::regex line(R"re("GET [^"]*" 206 \d+ "bytes=(\d+)-(\d+)")re");
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
        ranges.emplace_back(std::stoll((*it)[1]), std::stoll((*it)[2]));
    std::sort(ranges.begin(), ranges.end());
    return ranges;
}

// Five ranges fetched as partial replies, together covering the whole file. (A line is
// written after its reply has gone out: give the last ones a moment.)
void ExpectFiveRangesCoveringTheFile(const testsupport::NginxServer &nginx, int64_t size) {
    auto ranges = PartialReplies(nginx.AccessLog());
    const auto logDeadline = std::chrono::steady_clock::now() + 2s;
    while (ranges.size() < 5 && std::chrono::steady_clock::now() < logDeadline) {
        std::this_thread::sleep_for(10ms);
        ranges = PartialReplies(nginx.AccessLog());
    }
    EXPECT_GE(ranges.size(), 5u) << nginx.AccessLog();
    std::cout << "[ ranges   ]";
    for (const auto &[first, last] : ranges)
        std::cout << ' ' << first << '-' << last;
    std::cout << '\n';
    int64_t covered = 0;
    for (const auto &[first, last] : ranges) {
        EXPECT_LE(first, covered) << "a gap before byte " << first;
        covered = std::max(covered, last + 1);
    }
    EXPECT_EQ(covered, size) << nginx.AccessLog();
}

TEST(NginxDownload, LargeFileArrivesByteIdenticalThroughTheRealProgram) {
    std::string why;
    if (!testsupport::NginxServer::Available(&why))
        GTEST_SKIP() << why;

    DownloadSetup setup(kFileSize);
    ASSERT_EQ(fs::file_size(setup.source), static_cast<uintmax_t>(kFileSize));
    testsupport::NginxServer nginx(setup.served.string());
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/dir/setup.sh";

    const auto start = std::chrono::steady_clock::now();
    auto [status, output] = setup.Run(url, 120s);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "[ elapsed  ] " << (kFileSize >> 20) << " MiB downloaded in " << elapsed
              << " s (2 s start wait + 5 s worker wait included)\n";
    RecordProperty("elapsed_seconds", std::to_string(elapsed));
    ExpectExitCode(status, 0, output);

    ASSERT_TRUE(fs::exists(setup.downloaded)) << "no " << setup.downloaded << "; output:\n"
                                              << output;
    ASSERT_EQ(fs::file_size(setup.downloaded), static_cast<uintmax_t>(kFileSize));
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1) << "first differing byte";

    // The default completion actions run the file: it leaves its mark (it runs detached, so
    // give it a moment).
    const fs::path mark = setup.programDir / "setup.sh.ran";
    const auto markDeadline = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(mark) && std::chrono::steady_clock::now() < markDeadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(fs::exists(mark)) << "the downloaded script was not run";
    setup.ExpectNoPieceFileLeft();
    ExpectFiveRangesCoveringTheFile(nginx, kFileSize);
}

TEST(NginxDownload, HttpsFileArrivesByteIdenticalThroughTheRealProgram) {
    std::string why;
    if (!testsupport::NginxServer::Available(&why))
        GTEST_SKIP() << why;
    auto &certificates = testsupport::SharedTestCertificates(); // SSL_CERT_FILE for the child
    const auto certificate = certificates.Issue("download");
    DownloadSetup setup(kHttpsFileSize);
    testsupport::NginxServer nginx(setup.served.string(),
                                   {certificate.certificate, certificate.key});
    // By name: the certificate's name is checked, and the host goes out as SNI.
    const std::string url = "https://localhost:" + std::to_string(nginx.Port()) + "/dir/setup.sh";

    const auto start = std::chrono::steady_clock::now();
    auto [status, output] = setup.Run(url, 120s);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "[ elapsed  ] " << (kHttpsFileSize >> 20) << " MiB over TLS in " << elapsed
              << " s (2 s start wait + 5 s worker wait included)\n";
    ExpectExitCode(status, 0, output);
    EXPECT_NE(output.find("Using server localhost:" + std::to_string(nginx.Port()) + "."),
              std::string::npos)
        << output;
    ASSERT_TRUE(fs::exists(setup.downloaded)) << output;
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1) << "first differing byte";
    setup.ExpectNoPieceFileLeft();
    ExpectFiveRangesCoveringTheFile(nginx, kHttpsFileSize);
}

TEST(NginxDownload, HttpsServerWithAnExpiredCertificateGivesNothing) {
    std::string why;
    if (!testsupport::NginxServer::Available(&why))
        GTEST_SKIP() << why;
    auto &certificates = testsupport::SharedTestCertificates();
    testsupport::CertificateRequest expired;
    expired.validFromDays = -60;
    expired.validUntilDays = -1;
    const auto certificate = certificates.Issue("expired", expired);
    DownloadSetup setup(1 << 20);
    testsupport::NginxServer nginx(setup.served.string(),
                                   {certificate.certificate, certificate.key});
    const std::string url = "https://127.0.0.1:" + std::to_string(nginx.Port()) + "/dir/setup.sh";

    // No location answers the size request: unattended, the program ends with 2.
    auto [status, output] = setup.Run(url, 60s);
    ExpectExitCode(status, 2, output);
    EXPECT_NE(output.find("Certificate verification failed: certificate has expired"),
              std::string::npos)
        << "the box says why:\n"
        << output;
    EXPECT_FALSE(fs::exists(setup.downloaded)) << output;
    EXPECT_EQ(nginx.AccessLog().find("setup.sh"), std::string::npos)
        << "no request reached the server:\n"
        << nginx.AccessLog();
    setup.ExpectNoPieceFileLeft();
}

} // namespace
