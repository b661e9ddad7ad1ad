#pragma once

#include "gui/Backend.h"
#include "gui/console/ConsoleStreams.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace gui {

// The front end without a display. The figures of the main form's progress bar (from the
// label that names the bar; the caption until there are any) and its status line are shown as
// one line, rewritten in place on a terminal (at most ten times a second) and never wider
// than it. Without a terminal every new status text gets a line of its own, and the figures
// at most one a second. Message
// boxes become a prompt, which ends unanswered (the most cautious button) when the main form
// closes meanwhile; the calls of other threads keep running while it waits.
class ConsoleBackend : public Backend {
  public:
    // `streams` answer message boxes when `interactive`; otherwise a box takes its first
    // button.
    ConsoleBackend(std::unique_ptr<ConsoleStreams> streams, bool outputIsTerminal,
                   bool interactive);
    ~ConsoleBackend() override;

    void ControlChanged(Control &control, Property what) override;
    void FormChanged(Form &form, Property what) override;
    void ApplicationChanged(Application &, Property) override {}
    // The display starts when the main form is first shown.
    void ShowForm(Form &form) override;
    void HideForm(Form &form) override;
    // The dialogs cannot be used without a display: a modal form closes at once.
    void RunModal(Form &form) override;
    void Run(Form &main) override;
    void ProcessMessages() override;
    MessageResult ShowMessage(const std::string &text, const std::string &caption,
                              MessageButtons buttons) override;
    void Repaint(Form &) override { Render(true); }
    bool UserCanAct() const override { return interactive_; }
    bool IsConsole() const override { return true; }
    bool AskLine(const std::string &prompt, bool hidden, std::string &line) override;

    // The line as it would be shown now.
    std::string CurrentLine() const;

  private:
    void Render(bool force);
    // The current line in at most `width` characters.
    std::string FitLine(std::size_t width) const;
    void EndLine();
    // Waits until an answer can be read; false when the main form closed first.
    bool WaitForAnswer();

    std::unique_ptr<ConsoleStreams> streams_;
    bool terminal_;
    bool interactive_;
    std::string caption_;
    std::string figures_; // the progress bar's figures, from the label that names the bar
    std::string status_;
    std::string shown_;
    bool started_ = false;
    bool lineOpen_ = false;
    std::size_t shownWidth_ = 0; // characters of the line on the terminal now
    bool pending_ = false;
    bool prompting_ = false; // a prompt is on the line: the status waits
    bool mainClosed_ = false;
    std::chrono::steady_clock::time_point lastRender_{};
};

} // namespace gui
