// A proxy that asks for credentials, through the window (headless): the credentials box, the
// download through squid with what was typed there, and a box that was cancelled.
#include "ControllerFixture.h"
#include "tests/support/RealPeers.h"

using namespace controllertest;

namespace {

const testsupport::SquidProxy::User kUser{"dl-user", "p@ss:w/rd"};

// Fills the credentials box and presses OK, or presses Cancel.
std::function<void(gui::Form &)> Answer(const std::string &user, const std::string &password,
                                        bool ok, std::vector<std::string> &prompts) {
    return [=, &prompts](gui::Form &f) {
        prompts.push_back(f.Get<gui::Label>("lblPrompt").Caption() + " | " +
                          f.Get<gui::Label>("lblProxy").Caption() + " | " +
                          f.Get<gui::Label>("lblChallenge").Caption());
        EXPECT_TRUE(f.Get<gui::Edit>("tbPassword").Hidden());
        f.Get<gui::Edit>("tbUserName").SetText(user);
        f.Get<gui::Edit>("tbPassword").SetText(password);
        f.Get<gui::Button>(ok ? "btnOK" : "btnCancel").Click();
    };
}

} // namespace

TEST_F(Controller, AProxysQuestionForCredentialsIsAnsweredInABox) {
    std::string why;
    if (!testsupport::SquidProxy::Available(&why))
        GTEST_SKIP() << why;
    testsupport::SquidProxy squid({kUser});
    const std::string content = PatternBytes(0, 300000);
    RangeServer origin(content);
    TMainForm &m = OpenFor(origin);
    std::vector<std::string> prompts;
    // A wrong password first: asked once more, then the right one.
    backend->modalScripts.push_back(Answer(kUser.name, "wrong", true, prompts));
    backend->modalScripts.push_back(Answer(kUser.name, kUser.password, true, prompts));
    m.StartDownload("http", Mirrors({&origin, nullptr, nullptr, nullptr}), "file.bin",
                    "127.0.0.1", squid.Port());
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }, 60s));
    EXPECT_EQ(m.ExitCode, kExitVerified);
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    const std::string proxy = "127.0.0.1:" + std::to_string(squid.Port());
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0], "The proxy asks for a user name and password. | Proxy: " + proxy +
                              " | It says: \"download-test\"");
    EXPECT_EQ(prompts[1], "The proxy refused them: try again. | Proxy: " + proxy +
                              " | It says: \"download-test\"");
    EXPECT_NE(squid.Log().find(" dl-user "), std::string::npos) << squid.Log();
    for (const auto &request : origin.Requests())
        EXPECT_EQ(request.request.find("Authorization"), std::string::npos) << request.request;
    for (const std::string &status : backend->statuses)
        EXPECT_EQ(status.find(kUser.password), std::string::npos) << status;
}

TEST_F(Controller, ACancelledCredentialsBoxSaysWhichProxyAskedForWhat) {
    std::string why;
    if (!testsupport::SquidProxy::Available(&why))
        GTEST_SKIP() << why;
    testsupport::SquidProxy squid({kUser});
    RangeServer origin(PatternBytes(0, 1000));
    TMainForm &m = OpenFor(origin);
    std::vector<std::string> prompts;
    backend->modalScripts.push_back(Answer("", "", false, prompts));
    m.StartDownload("http", Mirrors({&origin, nullptr, nullptr, nullptr}), "file.bin",
                    "127.0.0.1", squid.Port());
    EXPECT_EQ(prompts.size(), 1u) << "asked once, not for every location";
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "Connection error");
    // Cancelled, not refused; the realm in words, not the proxy's header.
    EXPECT_NE(backend->messages[0].text.find(
                  "Cancelled: the proxy 127.0.0.1:" + std::to_string(squid.Port()) +
                  " asks for a user name and password (it says: \"download-test\")."),
              std::string::npos)
        << backend->messages[0].text;
    EXPECT_TRUE(m.Paused);
    EXPECT_TRUE(origin.Requests().empty());
}
