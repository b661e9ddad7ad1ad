// The window (headless) for a URL with a user name and password: neither appears in a status
// text, the second line, a caption, the title or a box, nor goes to the server.
#include "ControllerFixture.h"

using namespace controllertest;

TEST_F(Controller, NoPasswordInTheWindow) {
    const std::string content = PatternBytes(0, 300000);
    RangeServer origin(content);
    // The size request and the one-byte request after it fail: the box names the location.
    origin.SetFaults([](size_t i, const SeenRequest &) {
        return i <= 1 ? RangeFault{RangeFault::Kind::Status, 0, 503, {}} : RangeFault{};
    });
    TMainForm &m = Open(
        {"http://dl-user:S3cret-Pw@" + Host(origin) + "/dir/file.bin", "MaximumDetailToDisplay:3"});
    std::vector<std::string> shown;
    auto keep = [&] {
        shown.push_back(m.Form().Caption());
        shown.push_back(app->Title());
        shown.push_back(m.Form().Get<gui::Label>("lblProgress").Caption());
    };
    keep();
    m.FormActivate();
    keep();
    ASSERT_EQ(backend->messages.size(), 1u);
    m.btnPauseResumeClick();
    ASSERT_TRUE(PumpUntil([&] {
        keep();
        return Finished();
    }));
    keep();
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(backend->statuses.front(), "The user name and password of the URL are not sent.");
    EXPECT_EQ(backend->messages[0].text.rfind("Could not connect to " + Host(origin) + ".", 0), 0u)
        << backend->messages[0].text;
    shown.insert(shown.end(), backend->statuses.begin(), backend->statuses.end());
    for (const auto &message : backend->messages)
        shown.push_back(message.caption + " " + message.text);
    for (const std::string &text : shown)
        for (const char *secret : {"S3cret-Pw", "dl-user"})
            EXPECT_EQ(text.find(secret), std::string::npos) << text;
    for (const SeenRequest &request : origin.Requests())
        EXPECT_EQ(request.request.find("S3cret-Pw"), std::string::npos) << request.request;
}
