#include "app/MainForm.h"

#include "app/Resources.h"
#include "gui/PlainText.h"
#include "gui/headless/HeadlessBackend.h"
#include "platform/Signature.h"

#include <gtest/gtest.h>

namespace {

using gui::Bounds;

std::unique_ptr<gui::Backend> MakeHeadless(gui::HeadlessBackend *&out) {
    auto backend = std::make_unique<gui::HeadlessBackend>();
    out = backend.get();
    return backend;
}

struct MainFormTest : ::testing::Test {
    gui::HeadlessBackend *backend = nullptr;
    gui::Application app{MakeHeadless(backend)};
};

// Width and height of a baseline or progressive JPEG, from its start-of-frame segment.
bool JpegSize(const gui::ImageData &image, int &width, int &height) {
    const unsigned char *p = image.bytes;
    std::size_t n = image.size;
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return false;
    for (std::size_t i = 2; i + 9 < n;) {
        if (p[i] != 0xFF)
            return false;
        unsigned char marker = p[i + 1];
        std::size_t length = static_cast<std::size_t>(p[i + 2] << 8 | p[i + 3]);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            height = p[i + 5] << 8 | p[i + 6];
            width = p[i + 7] << 8 | p[i + 8];
            return true;
        }
        i += 2 + length;
    }
    return false;
}

TEST_F(MainFormTest, WithoutArgumentsRunsTheBuiltInRequest) {
    TMainForm main(app, {"/opt/download"});
    EXPECT_TRUE(main.RunApplication);
    EXPECT_EQ(main.Request(), BuiltInRequest());
    EXPECT_EQ(main.Form().Caption(), "Download Pelko");
    EXPECT_EQ(app.Title(), "Pelko download");
    EXPECT_EQ(app.MainForm(), &main.Form());
    EXPECT_EQ(main.SyntaxError(), "");
    EXPECT_FALSE(main.CloseRequested || main.Activated || main.Paused || main.WorkersStarted());
    EXPECT_EQ(main.Session(), nullptr) << "no download before the first selection";
    EXPECT_FALSE(main.Form().Visible()) << "shown by the message loop";
    EXPECT_FALSE(main.Options().Showing());
    EXPECT_GE(backend->repaints, 1);
}

TEST_F(MainFormTest, ACommandLineSetsTheCaptionAndTitleFromTheProductName) {
    TMainForm main(app, {"/opt/download", "http://files.local/pub/tool.tar.gz?sig=SECRET"});
    EXPECT_EQ(main.Form().Caption(), "Download tool.tar.gz from files.local/pub");
    EXPECT_EQ(app.Title(), "tool.tar.gz from files.local/pub download");
    EXPECT_EQ(main.Request().FileName, "tool.tar.gz?sig=SECRET");
}

TEST_F(MainFormTest, ACommandLineWithErrorsRunsWithWhatWasReadAndExplainsOnStandardError) {
    ::testing::internal::CaptureStderr();
    TMainForm main(app, {"/opt/download", "http://h/f.exe", "ProductName:Tool", "Bogus:1"});
    std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(main.RunApplication);
    EXPECT_EQ(main.Form().Caption(), "Download Tool");
    EXPECT_NE(main.SyntaxError().find("Unknown parameter name Bogus.\n\r"), std::string::npos);
    EXPECT_NE(written.find("There are errors in the parameters:\nUnknown parameter name Bogus.\n"),
              std::string::npos)
        << written;
    EXPECT_EQ(written.find('\r'), std::string::npos) << "plain line ends on the terminal";
    EXPECT_TRUE(backend->messages.empty()) << "no message box";
}

TEST_F(MainFormTest, AURLWithoutAPlainFileNameEndsTheProgramWithAMessage) {
    for (const char *url : {"http://files.local/pub/", "http://files.local/pub/..",
                            "http://files.local/pub/..%2F..%2Fbin%2Fsh"}) {
        backend->messages.clear();
        ::testing::internal::CaptureStderr();
        TMainForm main(app, {"/opt/download", url, "Bogus:1"});
        std::string written = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(main.RunApplication) << url;
        EXPECT_EQ(main.ExitCode, kExitIncomplete);
        ASSERT_EQ(backend->messages.size(), 1u) << url;
        EXPECT_EQ(backend->messages[0].caption, "Talvex download application");
        // The file name's error is named, not the later parameter's.
        const std::string &text = backend->messages[0].text;
        EXPECT_TRUE(text.find("File name is missing") != std::string::npos ||
                    text.find("File name must not contain a path separator") != std::string::npos)
            << text;
        EXPECT_EQ(text.find("Bogus"), std::string::npos);
        EXPECT_NE(written.find("Correct syntax:"), std::string::npos);
    }
}

TEST_F(MainFormTest, AURLWithoutAHostEndsTheProgramBeforeAnyRequest) {
    for (const char *url : {"files.local/pub/setup.exe", "http:///pub/setup.exe",
                            "http://files.local", "--hepl", "http://[fe80::1%25eth0]/setup.exe",
                            "http://[::1/setup.exe"}) {
        backend->messages.clear();
        ::testing::internal::CaptureStderr();
        TMainForm main(app, {"/opt/download", url, "ProductName:Tool"});
        std::string written = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(main.RunApplication) << url;
        EXPECT_EQ(main.ExitCode, kExitIncomplete) << url;
        ASSERT_EQ(backend->messages.size(), 1u) << url;
        EXPECT_EQ(backend->messages[0].caption, "Talvex download application");
        EXPECT_NE(written.find("Incorrect command line syntax."), std::string::npos) << url;
    }
}

TEST_F(MainFormTest, ASignerThatIsMalformedOrCannotBeCheckedHereEndsTheProgramBeforeAnyRequest) {
    std::vector<const char *> values = {"Signer:", "Signer:A||B"};
    if (!platform::CanCheckSignatures())
        values.push_back("Signer:Talvex Vendor");
    for (const char *value : values) {
        backend->messages.clear();
        ::testing::internal::CaptureStderr();
        TMainForm main(app, {"/opt/download", "http://127.0.0.1:9/setup.exe", value});
        std::string written = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(main.RunApplication) << value;
        EXPECT_EQ(main.ExitCode, kExitIncomplete) << value;
        ASSERT_EQ(backend->messages.size(), 1u) << value;
        EXPECT_NE(written.find("signer"), std::string::npos) << written;
    }
}

TEST_F(MainFormTest, HelpAndVersionAnswerAndEndWithoutARequest) {
    for (const char *help : {"--help", "-h", "/?"}) {
        backend->messages.clear();
        ::testing::internal::CaptureStdout();
        TMainForm main(app, {"/opt/download", help});
        std::string written = ::testing::internal::GetCapturedStdout();
        EXPECT_FALSE(main.RunApplication) << help;
        EXPECT_EQ(main.ExitCode, 0) << help;
        EXPECT_EQ(written.rfind("Correct syntax:\n", 0), 0u) << written;
        EXPECT_NE(written.find("ProxyPort:"), std::string::npos) << "the options are explained";
        EXPECT_EQ(written.find("Incorrect"), std::string::npos);
        // In a window the same text is shown in a box.
        ASSERT_EQ(backend->messages.size(), 1u) << help;
        EXPECT_EQ(gui::PlainLineEnds(backend->messages[0].text) + "\n", written);
    }
    backend->messages.clear();
    ::testing::internal::CaptureStdout();
    TMainForm main(app, {"/opt/download", "--version"});
    std::string written = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(main.RunApplication);
    EXPECT_EQ(main.ExitCode, 0);
    EXPECT_EQ(written, VersionText() + "\n");
    EXPECT_TRUE(backend->messages.empty());
}

TEST_F(MainFormTest, LayoutFollowsTheControlsTable) {
    TMainForm main(app, {"/opt/download"});
    gui::Form &f = main.Form();
    EXPECT_EQ(f.ClientWidth(), 410);
    EXPECT_EQ(f.ClientHeight(), 92);
    struct Row {
        const char *name;
        gui::ControlKind kind;
        Bounds place;
        const char *caption;
        bool shown;
    };
    using K = gui::ControlKind;
    const Row rows[] = {
        {"imgDownload", K::Picture, {-4, 2, 64, 64}, "", true},
        {"pb", K::ProgressBar, {66, 4, 337, 21}, "", true},
        {"lblMessage", K::Label, {68, 28, 335, 16}, "", true},
        {"lblProgress", K::Label, {68, 44, 335, 16}, "", true},
        {"btnLaunchApplication", K::Button, {88, 63, 75, 25}, "&Run", false},
        {"btnPause", K::Button, {168, 63, 75, 25}, "&Pause", true},
        {"btnResume", K::Button, {168, 63, 75, 25}, "&Resume", false},
        {"btnOpenFolder", K::Button, {168, 63, 75, 25}, "O&pen", false},
        {"btnOptions", K::Button, {248, 63, 75, 25}, "&Options", true},
        {"btnCancel", K::Button, {328, 63, 75, 25}, "C&ancel", true},
        {"btnClose", K::Button, {328, 63, 75, 26}, "&Close", false},
    };
    for (const Row &row : rows) {
        const gui::Control *c = f.Find(row.name);
        ASSERT_NE(c, nullptr) << row.name;
        EXPECT_EQ(c->Kind(), row.kind) << row.name;
        EXPECT_EQ(c->Place().left, row.place.left) << row.name;
        EXPECT_EQ(c->Place().top, row.place.top) << row.name;
        EXPECT_EQ(c->Place().width, row.place.width) << row.name;
        EXPECT_EQ(c->Place().height, row.place.height) << row.name;
        EXPECT_EQ(c->Caption(), row.caption) << row.name;
        EXPECT_EQ(c->Visible(), row.shown) << row.name;
    }
    const gui::ProgressBar &pb = f.Get<gui::ProgressBar>("pb");
    EXPECT_EQ(pb.Min(), -100);
    EXPECT_EQ(pb.Max(), 100);
    EXPECT_EQ(pb.Position(), -100);

    std::vector<std::string> order;
    for (gui::Control *c : f.TabOrder())
        order.push_back(c->Name());
    EXPECT_EQ(order,
              (std::vector<std::string>{"btnLaunchApplication", "btnOpenFolder", "btnPause",
                                        "btnResume", "btnOptions", "btnClose", "btnCancel"}));
}

TEST_F(MainFormTest, ThePictureAndTheIconAreEmbeddedJpegs) {
    TMainForm main(app, {"/opt/download"});
    int width = 0, height = 0;
    ASSERT_TRUE(JpegSize(main.Form().Get<gui::Picture>("imgDownload").Image(), width, height));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 64);
    ASSERT_TRUE(JpegSize(main.Form().Icon(), width, height));
    EXPECT_EQ(main.Options().Form().Icon().bytes, main.Form().Icon().bytes);
}

TEST_F(MainFormTest, OptionsOpensTheDialogWithTheProxyEditableOnlyBeforeTheWorkers) {
    TMainForm main(app, {"/opt/download"});
    bool shown = false;
    backend->modalScripts.push_back([&](gui::Form &f) {
        shown = f.Caption() == "Download options" && f.Modal();
        EXPECT_TRUE(f.Get<gui::CheckBox>("cbProxyServer").Enabled());
        f.Get<gui::Button>("btnCancel").Click();
    });
    main.Form().Get<gui::Button>("btnOptions").Click();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(main.Options().ProxyEditable);
    // Alt+O opens it too, and Escape closes it (with workers running the proxy is locked:
    // the controller's tests).
    backend->modalScripts.push_back([&](gui::Form &f) { f.PressEscape(); });
    main.Form().PressAccelerator('o');
    EXPECT_EQ(backend->modalsLeftOpen, 0);
}

TEST_F(MainFormTest, CancelAndTheCloseBoxCloseTheWindowAndEndTheLoop) {
    TMainForm cancelled(app, {"/opt/download"});
    backend->runScript = [](gui::Form &f) { f.Get<gui::Button>("btnCancel").Click(); };
    app.Run();
    EXPECT_TRUE(cancelled.CloseRequested);
    EXPECT_FALSE(cancelled.Form().Visible());

    gui::HeadlessBackend *second = nullptr;
    gui::Application other(MakeHeadless(second));
    TMainForm closed(other, {"/opt/download"});
    bool visibleInLoop = false;
    second->runScript = [&](gui::Form &f) {
        visibleInLoop = f.Visible();
        f.PressCloseBox();
    };
    other.Run();
    EXPECT_TRUE(visibleInLoop);
    EXPECT_TRUE(closed.CloseRequested);

    // Escape is Cancel, but only while Cancel can be pressed.
    gui::HeadlessBackend *third = nullptr;
    gui::Application escaped(MakeHeadless(third));
    TMainForm main(escaped, {"/opt/download"});
    third->runScript = [](gui::Form &f) {
        f.Get<gui::Button>("btnCancel").SetEnabled(false);
        f.PressEscape();
        EXPECT_TRUE(f.Visible());
        f.Get<gui::Button>("btnCancel").SetEnabled(true);
        f.PressEscape();
        EXPECT_FALSE(f.Visible());
    };
    escaped.Run();
    EXPECT_TRUE(main.CloseRequested);
}

} // namespace
