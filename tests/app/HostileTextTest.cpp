// Texts from the network reach the terminal only as printable characters: a server whose
// reason phrase holds escape sequences (retitle the terminal, clear it, bold a fake line)
// has them shown as "?", through the real program on the console.
#include "RealProgram.h"
#include "tests/support/RangeServer.h"

#include <gtest/gtest.h>

namespace {

using namespace realprogram;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;

TEST(HostileText, EscapeSequencesInAReasonPhraseNeverReachTheTerminal) {
    DownloadSetup setup(1000);
    RangeServer server(ReadFile(setup.source));
    server.SetFaults([](size_t, const SeenRequest &r) {
        if (r.method != "GET")
            return RangeFault{};
        return RangeFault{RangeFault::Kind::Status, 0, 503, 0ms,
                          "\x1b]0;pwned\x07\x1b[2J\x1b[1mFile verified\x1b[0m\x9b"};
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/dir/setup.sh";
    auto [status, output] = setup.Run(url, 120s, {"MaximumNumberOfAttempts:1"});
    ExpectExitCode(status, 2, output);
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
    EXPECT_EQ(output.find('\x07'), std::string::npos) << output;
    EXPECT_NE(output.find("HTTP 503 ?]0;pwned??[2J?[1mFile verified?[0m"), std::string::npos)
        << "the reason is still told, made harmless: " << output;
}

} // namespace
