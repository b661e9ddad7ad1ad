#include "gui/console/ConsoleBackend.h"

#include "gui/Application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

namespace {

using namespace gui;

// The console's streams on a test's text.
class TextStreams final : public ConsoleStreams {
  public:
    TextStreams(std::ostream &out, std::istream &in) : out_(out), in_(in) {}
    void Write(const std::string &text) override { out_ << text; }
    bool InputWaiting() override { return true; }
    bool ReadLine(std::string &line) override { return static_cast<bool>(std::getline(in_, line)); }
    int Columns() const override { return 80; }

  private:
    std::ostream &out_;
    std::istream &in_;
};

std::unique_ptr<ConsoleBackend> MakeConsole(std::ostream &out, std::istream &in, bool terminal,
                                            bool interactive) {
    return std::make_unique<ConsoleBackend>(std::make_unique<TextStreams>(out, in), terminal,
                                            interactive);
}

struct Console {
    std::ostringstream out;
    std::istringstream in;
    ConsoleBackend *backend = nullptr;
    std::unique_ptr<Application> app;
    Form *main = nullptr;
    Label *status = nullptr;

    Console(bool terminal, bool interactive, std::string input = "") : in(std::move(input)) {
        auto made = MakeConsole(out, in, terminal, interactive);
        backend = made.get();
        app = std::make_unique<Application>(std::move(made));
        main = &app->CreateForm("Main", 410, 76);
        status = &main->AddLabel("lblMessage", {}, "");
        main->Show();
    }
};

TEST(ConsoleBackend, ShowsTheCaptionAndTheStatusLineOnOneLine) {
    std::ostringstream out;
    std::istringstream in;
    Application app(MakeConsole(out, in, false, false));
    Form &main = app.CreateForm("Main", 1, 1);
    main.SetCaption("Download");
    main.SetCaption("Download Pelko");
    EXPECT_EQ(out.str(), "") << "nothing before the window is shown";
    main.Show();
    EXPECT_EQ(out.str(), "Download Pelko\n");

    Console c(false, false);
    c.main->SetCaption("Download Pelko");
    c.status->SetCaption("Using server\r\nmirror.");
    EXPECT_EQ(c.backend->CurrentLine(), "Download Pelko - Using server mirror.");
    // Other forms' captions and labels are not the main window's display.
    Form &dialog = c.app->CreateForm("Dialog", 10, 10);
    dialog.SetCaption("Download options");
    dialog.AddLabel("l", {}, "x").SetCaption("y");
    EXPECT_EQ(c.backend->CurrentLine(), "Download Pelko - Using server mirror.");
}

TEST(ConsoleBackend, RapidChangesDoNotFloodTheOutput) {
    Console c(false, false);
    for (int i = 0; i <= 1000; ++i)
        c.main->SetCaption("Downloading Pelko (" + std::to_string(i / 10) + "." +
                           std::to_string(i % 10) + "%)");
    std::string shown = c.out.str();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1) << shown;
    // The latest line is not lost: it is shown once the interval has passed.
    EXPECT_EQ(c.backend->CurrentLine(), "Downloading Pelko (100.0%)");
    c.app.reset();
    EXPECT_NE(c.out.str().find("Downloading Pelko (100.0%)\n"), std::string::npos);
}

TEST(ConsoleBackend, ATerminalLineIsRewrittenInPlaceWithoutEscapesAndEndedAtTheEnd) {
    // Back to the start of the line, the new text, blanks over the rest of a longer one: no
    // escape sequence, which some consoles (wine's) print as they are.
    std::ostringstream out;
    std::istringstream in;
    {
        Application app(MakeConsole(out, in, true, false));
        Form &main = app.CreateForm("Main", 1, 1);
        main.Show();
        main.SetCaption("Abc");
        main.SetCaption("B"); // within 100 ms: held back
        EXPECT_EQ(out.str(), "\rAbc");
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        app.ProcessMessages();
        EXPECT_EQ(out.str(), "\rAbc\rB  ");
    }
    EXPECT_EQ(out.str(), "\rAbc\rB  \n");
}

TEST(ConsoleBackend, WithoutATerminalAMessageBoxTakesItsFirstButton) {
    Console c(false, false);
    EXPECT_EQ(c.app->MessageBox("The minimum is X.\r\n\r\nDo you want to download anyway?",
                                "Prerequisites", MessageButtons::YesNo),
              MessageResult::Yes);
    std::string shown = c.out.str();
    EXPECT_NE(shown.find("== Prerequisites ==\nThe minimum is X.\n\nDo you want to download "
                         "anyway?\n[Y]es / [N]o: Yes\n"),
              std::string::npos)
        << shown;
}

TEST(ConsoleBackend, OnATerminalTheAnswerIsRead) {
    Console no(false, true, "n\n");
    EXPECT_EQ(no.app->MessageBox("?", "Connection error", MessageButtons::YesNoCancel),
              MessageResult::No);
    Console cancel(false, true, "what\nCANCEL\n");
    EXPECT_EQ(cancel.app->MessageBox("?", "Connection error", MessageButtons::YesNoCancel),
              MessageResult::Cancel);
    Console enter(false, true, "\n");
    EXPECT_EQ(enter.app->MessageBox("?", "Connection error", MessageButtons::YesNoCancel),
              MessageResult::Yes);
    Console closed(false, true, "");
    EXPECT_EQ(closed.app->MessageBox("?", "Connection error", MessageButtons::YesNo),
              MessageResult::Yes);
    Console nonsense(false, true,
                     std::string(50, 'q') + "\n" + "q\nq\nq\nq\nq\nq\nq\nq\nq\nq\nq\n");
    EXPECT_EQ(nonsense.app->MessageBox("?", "Connection error", MessageButtons::YesNo),
              MessageResult::Yes)
        << "gives up after a few wrong answers";
}

TEST(ConsoleBackend, AQuestionWhileTheProgramIsClosingTakesItsMostCautiousAnswer) {
    Console c(false, true, "y\n");
    c.app->Terminate();
    EXPECT_EQ(c.app->MessageBox("?", "Connection error", MessageButtons::YesNoCancel),
              MessageResult::Cancel);
    EXPECT_EQ(c.app->MessageBox("?", "Prerequisites", MessageButtons::YesNo), MessageResult::No);
}

TEST(ConsoleBackend, ModalDialogsCloseAtOnce) {
    Console c(false, false);
    Form &dialog = c.app->CreateForm("Dialog", 10, 10);
    dialog.ShowModal();
    EXPECT_FALSE(dialog.Visible());
}

} // namespace

TEST(ConsoleProgress, TheBarsFiguresComeFirstAndALineFitsTheTerminal) {
    Console c(false, false);
    c.main->SetCaption("Downloading Pelko");
    for (const char *s : {"Using server m.", "Attempting", "Downloading"})
        c.status->SetCaption(s);
    std::string shown = c.out.str();
    for (const char *s : {"Using server m.", "Attempting", "Downloading"})
        EXPECT_NE(shown.find(std::string("Downloading Pelko - ") + s + "\n"), std::string::npos)
            << s << " in:\n"
            << shown;

    // The label that names the bar gives its figures: they replace the caption, first.
    ProgressBar &bar = c.main->AddProgressBar("pb", {});
    Label &figures = c.main->AddLabel("lblProgress", {}, "", &bar);
    figures.SetCaption("16.2 of 40.0 MB, 1.0 MB/s, 25 s left");
    EXPECT_EQ(c.backend->CurrentLine(), "16.2 of 40.0 MB, 1.0 MB/s, 25 s left - Downloading");

    // At 80 columns the status gives way in the middle; the figures stay whole.
    std::ostringstream out;
    std::istringstream in;
    {
        Application app(MakeConsole(out, in, true, false));
        Form &main = app.CreateForm("Main", 1, 1);
        Label &status = main.AddLabel("lblMessage", {}, "");
        ProgressBar &pb = main.AddProgressBar("pb", {});
        Label &line = main.AddLabel("lblProgress", {}, "", &pb);
        main.SetCaption("Downloading Talvex Studio (16 of 40 MB, 40.5%)");
        line.SetCaption("16.2 of 40.0 MB, 1.0 MB/s, 25 s left");
        status.SetCaption("Downloading Talvex_Studio_2027_setup_x64_full.exe from 127.0.0.1.");
        main.Show();
    }
    const std::string written = out.str();
    ASSERT_EQ(written.substr(0, 1), "\r");
    const std::string last = written.substr(1, written.find('\n') - 1);
    EXPECT_EQ(last,
              "16.2 of 40.0 MB, 1.0 MB/s, 25 s left - Downloading Talvex_...xe from 127.0.0.1.");
    EXPECT_EQ(last.size(), 79u) << "one column stays free, so that the terminal never wraps";
}
